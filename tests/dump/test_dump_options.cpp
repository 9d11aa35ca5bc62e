// netvane-dump's options, run through the real program: every malformed,
// out-of-range or ill-matched option is a usage error (status 2) with its
// reason, before anything is printed, and the largest values are taken. None
// of these runs captures: an accepted capture names an adapter that does not
// exist and ends with status 1.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "tests/dump/run_program.h"

namespace {

using netvane::testing::Outcome;
using netvane::testing::RunDump;

TEST(DumpOptions, BadOptionsAreUsageErrorsAndTheLargestValuesAreTaken) {
  const std::string none = "nv-nosuch0";  // no adapter is called so
  const std::string capture = "/tmp/nvdumpopt.pcap";
  const std::string arp = std::string(NETVANE_GOLDEN) + "/arp.pcap";
  const std::string notIp = "; a host list is IP addresses separated by commas";
  const struct Case {
    std::vector<std::string> args;
    int status;
    std::string reason;
  } cases[] = {
      {{}, 2, "no file given"},
      {{"-q", "x.pcap"}, 2, "unknown option -q"},
      {{"--nope"}, 2, "unknown option --nope"},
      {{"-i"}, 2, "option -i needs a value"},
      {{"-i", ""}, 2, "option -i needs an adapter name"},
      {{"-i", "99999999999"}, 2, "option -i: adapter number 99999999999 is out of range"},
      {{"-i", "2147483648"}, 2, "option -i: adapter number 2147483648 is out of range"},
      {{"-i", none, "-c", "x"}, 2, "option -c needs a positive count, not \"x\""},
      {{"-i", none, "-c", "0"}, 2, "option -c needs a positive count"},
      {{"-i", none, "-c", "-5"}, 2, "option -c needs a positive count"},
      {{"-i", none, "-c", "12abc"}, 2, "option -c needs a positive count"},
      {{"-i", none, "-c", "99999999999999"}, 2, "option -c needs a positive count"},
      {{"-i", none, "-c2147483648"}, 2, "option -c needs a positive count"},
      {{"-i", none, "-w"}, 2, "option -w needs a value"},
      {{"-i", none, "-w", ""}, 2, "option -w needs a file name"},
      {{"-i", none, "-w", capture, "-C", "0"}, 2, "option -C needs a size in millions of bytes, not \"0\""},
      {{"-i", none, "-w", capture, "-C", "1.5"}, 2, "option -C needs a size"},
      {{"-i", none, "-w", capture, "-C", "2147483648"}, 2, "option -C needs a size"},
      {{"-i", none, "-w", capture, "-G", ""}, 2, "option -G needs a number of seconds"},
      {{"-i", none, "-w", capture, "-G", "99999999999"}, 2, "option -G needs a number of seconds"},
      {{"-i", none, "-w", capture, "-C", "1", "-W", "0"}, 2, "option -W needs a number of files"},
      {{"-i", none, "-w", capture, "-C", "1", "-W", "+3"}, 2, "option -W needs a number of files"},
      {{"-i", none, "-w", capture, "-W", "3"}, 2, "-W needs -C or -G"},
      {{"-i", none, "-C", "1"}, 2, "-C, -G and -W need -w FILE"},
      {{"-i", none, "-G", "1", "-w", "-"}, 2, "-C and -G write files, not standard output"},
      {{"-i", none, "-Vw", capture}, 2, "-V, -x and --time print rows; -w prints none"},
      {{"-r", arp, "-w", capture, "--time"}, 2, "-V, -x and --time print rows; -w prints none"},
      {{"-i", none, "-f", "tcp"}, 2, "option -f \"tcp\": \"tcp\" is not an IP address" + notIp},
      {{"-i", none, "-f", "1.2.3.4,,5.6.7.8"}, 2, "option -f \"1.2.3.4,,5.6.7.8\": an empty item" + notIp},
      {{"-i", none, "-f", "10.0.0.1,"}, 2, "option -f \"10.0.0.1,\": an empty item"},
      {{"-C", "1", "x.pcap"}, 2, "-f, -C, -G and -W belong to live capture (-i ADAPTER)"},
      {{"-r", arp, "-f", "10.0.0.1"}, 2, "-f, -C, -G and -W belong to live capture (-i ADAPTER)"},
      {{"-c", "5", "x.pcap"}, 2, "-c, -w and -F need -r FILE or -i ADAPTER"},
      {{"-F", arp, "x.pcap"}, 2, "-c, -w and -F need -r FILE or -i ADAPTER"},
      {{"-r", arp, "-F", "/nonexistent-nv"},
       2,
       "option -F: cannot read /nonexistent-nv: No such file or directory"},
      {{"-r", arp, "-F", arp, "tcp"}, 2, "give the filter expression either with -F FILE or as arguments"},
      {{"-r", arp, "-r", arp}, 2, "give -r once"},
      {{"-D", "-i", none}, 2, "-D takes no adapter and no files"},
      {{"-D", "-r", arp}, 2, "-D takes no adapter and no files"},
      {{"-i", none, "-r", arp}, 2, "give either -i ADAPTER or -r FILE, not both"},
      // An expression given as a file, after real files: nothing is printed.
      {{arp, "tcp"},
       2,
       "tcp: No such file or directory (to read a capture through a filter expression: "
       "netvane-dump -r FILE EXPR)"},
      // Taken: the run gets as far as looking for the adapter.
      {{"-i", none, "-c", "2147483647"}, 1, "no capture adapter " + none},
      {{"-i", none, "-w", capture, "-C", "2147483647", "-G", "2147483647", "-W", "2147483647"},
       1,
       "no capture adapter " + none},
      {{"-i", "2147483647", "-c1"}, 1, "no capture adapter 2147483647"},
      {{"-i", "0", "-c1"}, 1, "no capture adapter 0 (netvane-dump -D lists them, from 1)"},
      {{"-i", none, "-f", " 10.0.0.1 ,::1", "tcp", "port", "80"}, 1, "no capture adapter " + none},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const std::string& a : c.args) line += " '" + a + "'";
    SCOPED_TRACE("netvane-dump" + line);
    const Outcome r = RunDump(c.args);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(r.err.rfind("netvane-dump: " + c.reason, 0), 0u) << r.err;
    EXPECT_EQ(r.err.find("usage: ") != std::string::npos, c.status == 2) << r.err;
    EXPECT_EQ(r.out, "");
  }
  EXPECT_NE(access(capture.c_str(), F_OK), 0) << "no run got as far as writing";
}

}  // namespace
