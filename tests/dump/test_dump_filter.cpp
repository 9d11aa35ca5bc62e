// Filter expressions in netvane-dump -r, checked against readers of our own
// making no part of: libpcap's offline reader with its own filter
// (pcap_setfilter), and tcpdump where it is installed.
#include <gtest/gtest.h>

#include <pcap/pcap.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "tests/dump/run_program.h"

namespace {

using netvane::testing::Outcome;
using netvane::testing::RunDump;
using netvane::testing::RunProgram;

std::string Golden(const char* name) {
  return std::string(NETVANE_GOLDEN) + "/" + name;
}

// A file of this test process's own: ctest runs the tests side by side.
std::string TempFile(const char* name) {
  return ::testing::TempDir() + "nvfilter" + std::to_string(getpid()) + "_" + name;
}

// Captures of every kind the golden set has: TCP with all flags, UDP on
// several ports, ICMP, fragments, ARP, broadcast and multicast, IPv6, 802.3,
// frames cut short, a 20000-byte frame, pcapng.
const char* const kCaptures[] = {"ipv4.pcap",       "broadcast.pcap",   "arp.pcap",       "fragments.pcap",
                                 "ip_options.pcap", "short_other.pcap", "short_tcp.pcap", "ethertypes.pcap",
                                 "pcapng.pcapng",   "big.pcap"};

const char* const kExpressions[] = {
    "",
    "tcp",
    "udp",
    "arp",
    "ip6",
    "icmp or igmp",
    "not ip",
    "tcp port 80",
    "udp dst port 53",
    "src port 443 or dst port 68",
    "ether broadcast",
    "ether multicast and not ether broadcast",
    "ether dst 52:54:00:ab:cd:ef",
    "ip[6:2] & 0x1fff != 0",
    "tcp[tcpflags] & tcp-syn != 0",
    "tcp[tcpflags] & (tcp-fin|tcp-push|tcp-urg) = (tcp-fin|tcp-push|tcp-urg)",
    "greater 60",
    "less 42",
    "len > 1000",
    "host 192.168.100.254 and not tcp",
    "ip proto 115",
    "ip broadcast",
};

struct Frame {
  pcap_pkthdr header;
  std::vector<uint8_t> bytes;
};

// The frames of `path` that libpcap's reader passes with `expression`
// compiled and applied by libpcap itself (the netmask 0, as tcpdump -r takes
// it), each with its number in the whole file.
std::vector<std::pair<unsigned, Frame>> LibpcapMatches(const std::string& path,
                                                       const std::string& expression) {
  std::vector<std::pair<unsigned, Frame>> matches;
  char err[PCAP_ERRBUF_SIZE] = {};
  // Once unfiltered for the numbers, once filtered for the frames.
  pcap_t* all = pcap_open_offline(path.c_str(), err);
  pcap_t* some = pcap_open_offline(path.c_str(), err);
  EXPECT_NE(all, nullptr) << err;
  EXPECT_NE(some, nullptr) << err;
  if (all == nullptr || some == nullptr) return matches;
  bpf_program program{};
  EXPECT_EQ(pcap_compile(some, &program, expression.c_str(), 1, 0), 0) << pcap_geterr(some);
  EXPECT_EQ(pcap_setfilter(some, &program), 0) << pcap_geterr(some);
  pcap_freecode(&program);
  pcap_pkthdr* h = nullptr;
  const u_char* data = nullptr;
  std::vector<Frame> every;
  while (pcap_next_ex(all, &h, &data) == 1) every.push_back({*h, {data, data + h->caplen}});
  while (pcap_next_ex(some, &h, &data) == 1) {
    const Frame f{*h, {data, data + h->caplen}};
    // The next frame of the whole file that is this one.
    unsigned n = matches.empty() ? 0 : matches.back().first;
    while (n < every.size() && (every[n].bytes != f.bytes || every[n].header.ts.tv_sec != h->ts.tv_sec ||
                                every[n].header.ts.tv_usec != h->ts.tv_usec))
      ++n;
    EXPECT_LT(n, every.size());
    matches.push_back({n + 1, f});
  }
  pcap_close(all);
  pcap_close(some);
  return matches;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The golden captures as one pcap file, written by libpcap's writer, and
// after them their largest frame cut short as a snapshot length cuts it, so
// that its length on the wire is not its captured length.
std::string MergedCapture() {
  const std::string path = TempFile("all.pcap");
  pcap_t* dead = pcap_open_dead(DLT_EN10MB, 262144);
  pcap_dumper_t* out = pcap_dump_open(dead, path.c_str());
  EXPECT_NE(out, nullptr) << pcap_geterr(dead);
  for (const char* capture : kCaptures) {
    char err[PCAP_ERRBUF_SIZE] = {};
    pcap_t* in = pcap_open_offline(Golden(capture).c_str(), err);
    EXPECT_NE(in, nullptr) << err;
    if (in == nullptr || out == nullptr) continue;
    pcap_pkthdr* h = nullptr;
    const u_char* data = nullptr;
    while (pcap_next_ex(in, &h, &data) == 1) {
      pcap_dump(reinterpret_cast<u_char*>(out), h, data);
      if (h->caplen < 10000) continue;
      pcap_pkthdr cut = *h;
      cut.caplen = 96;
      pcap_dump(reinterpret_cast<u_char*>(out), &cut, data);
    }
    pcap_close(in);
  }
  if (out != nullptr) pcap_dump_close(out);
  pcap_close(dead);
  return path;
}

// Each expression: netvane-dump -r prints exactly the rows of the frames
// libpcap's own filtered reader passes, each row as it is without the
// expression, under the number it has there.
TEST(DumpFilter, RowsAreTheFramesLibpcapsOwnReaderPasses) {
  const std::string path = MergedCapture();
  const Outcome whole = RunDump({"-r", path});
  ASSERT_EQ(whole.status, 0) << whole.err;
  const std::vector<std::string> rows = Lines(whole.out);
  ASSERT_GT(rows.size(), 60u);
  for (const char* expression : kExpressions) {
    SCOPED_TRACE(expression);
    std::vector<std::string> expected;
    for (const auto& [number, frame] : LibpcapMatches(path, expression)) {
      ASSERT_LE(number, rows.size());
      expected.push_back(rows[number - 1]);
    }
    // Neither none nor all, but for the empty expression.
    if (*expression != '\0') {
      EXPECT_GT(expected.size(), 0u);
      EXPECT_LT(expected.size(), rows.size());
    }
    const Outcome filtered = RunDump({"-r", path, expression});
    EXPECT_EQ(filtered.status, 0) << filtered.err;
    EXPECT_EQ(Lines(filtered.out), expected);
  }
  std::remove(path.c_str());
}

bool HaveTcpdump() {
  return std::system("tcpdump --version >/dev/null 2>&1") == 0;
}

// -r IN -w OUT EXPR writes what tcpdump -r IN -w OUT EXPR writes, record for
// record: time stamp, captured and wire length, bytes; -c stops both alike.
TEST(DumpFilter, WritesWhatTcpdumpWritesRecordForRecord) {
  if (!HaveTcpdump()) GTEST_SKIP() << "tcpdump is not installed (bash scripts/setup.sh installs it)";
  const std::string merged = MergedCapture();
  const std::string ours = TempFile("ours.pcap");
  const std::string theirs = TempFile("theirs.pcap");
  const struct {
    const char* capture;               // empty: the merged one
    std::vector<std::string> options;  // given to both
    const char* expression;
  } cases[] = {
      {"ipv4.pcap", {}, "tcp"},
      {"", {}, "greater 1000 or arp"},
      {"ipv4.pcap", {"-c", "2"}, "ip"},
      {"broadcast.pcap", {}, "not ether broadcast"},
      {"short_other.pcap", {}, "greater 30"},
      {"pcapng.pcapng", {}, "udp or icmp"},
      {"big.pcap", {}, "udp"},
      {"arp.pcap", {}, "ip6"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.capture) + ": " + c.expression);
    std::vector<std::string> args = {"-r", *c.capture ? Golden(c.capture) : merged, "-w", ours};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(c.expression);
    const Outcome dump = RunDump(args);
    ASSERT_EQ(dump.status, 0) << dump.err;
    EXPECT_EQ(dump.out, "");
    args[3] = theirs;
    const Outcome tcpdump = RunProgram("tcpdump", args);
    ASSERT_EQ(tcpdump.status, 0) << tcpdump.err;
    char err[PCAP_ERRBUF_SIZE] = {};
    pcap_t* a = pcap_open_offline(ours.c_str(), err);
    ASSERT_NE(a, nullptr) << err;
    pcap_t* b = pcap_open_offline(theirs.c_str(), err);
    ASSERT_NE(b, nullptr) << err;
    EXPECT_EQ(pcap_datalink(a), pcap_datalink(b));
    pcap_pkthdr *ha = nullptr, *hb = nullptr;
    const u_char *da = nullptr, *db = nullptr;
    int records = 0;
    for (;; ++records) {
      const int ra = pcap_next_ex(a, &ha, &da);
      const int rb = pcap_next_ex(b, &hb, &db);
      ASSERT_EQ(ra, rb) << "record " << records;
      if (ra != 1) break;
      EXPECT_EQ(ha->ts.tv_sec, hb->ts.tv_sec) << records;
      EXPECT_EQ(ha->ts.tv_usec, hb->ts.tv_usec) << records;
      EXPECT_EQ(ha->caplen, hb->caplen) << records;
      EXPECT_EQ(ha->len, hb->len) << records;
      EXPECT_EQ(std::vector<uint8_t>(da, da + ha->caplen), std::vector<uint8_t>(db, db + hb->caplen))
          << records;
    }
    pcap_close(a);
    pcap_close(b);
    // Not a test of empty files only.
    if (std::string(c.expression) != "ip6") {
      EXPECT_GT(records, 0);
    }
  }
  std::remove(merged.c_str());
  std::remove(ours.c_str());
  std::remove(theirs.c_str());
}

// --time ends each row with the time stamp as tcpdump -tttt writes it (in
// the local time zone, here one far from UTC) and the wire length.
TEST(DumpFilter, TimeColumnsAreTcpdumpsTimeAndTheWireLength) {
  if (!HaveTcpdump()) GTEST_SKIP() << "tcpdump is not installed (bash scripts/setup.sh installs it)";
  setenv("TZ", "NVT-5:30", 1);  // a zone of its own name: no time zone data needed
  const std::string path = Golden("short_other.pcap");
  const Outcome dump = RunDump({"-r", path, "--time", "greater 25"});
  const Outcome tcpdump = RunProgram("tcpdump", {"-tttt", "-nn", "-r", path, "greater 25"});
  unsetenv("TZ");
  ASSERT_EQ(dump.status, 0) << dump.err;
  ASSERT_EQ(tcpdump.status, 0) << tcpdump.err;
  const std::vector<std::string> rows = Lines(dump.out), theirs = Lines(tcpdump.out);
  const auto frames = LibpcapMatches(path, "greater 25");
  ASSERT_EQ(rows.size(), theirs.size());
  ASSERT_EQ(rows.size(), frames.size());
  ASSERT_FALSE(rows.empty());
  for (size_t k = 0; k < rows.size(); ++k) {
    const size_t wireTab = rows[k].rfind('\t');
    const size_t timeTab = rows[k].rfind('\t', wireTab - 1);
    ASSERT_NE(timeTab, std::string::npos) << rows[k];
    EXPECT_EQ(rows[k].substr(timeTab + 1, wireTab - timeTab - 1), theirs[k].substr(0, 26)) << rows[k];
    EXPECT_EQ(rows[k].substr(wireTab + 1), std::to_string(frames[k].second.header.len)) << rows[k];
  }
}

// A bad expression is refused with libpcap's own message and status 2,
// before a file is read or a capture starts.
TEST(DumpFilter, ABadExpressionGetsLibpcapsMessageAndStatus2) {
  for (const char* expression :
       {"tcp and", "port 99999", "ether src 1:2:3", "net 10.0.0.1/33", "udp port nosuchservice"}) {
    SCOPED_TRACE(expression);
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 20000);
    bpf_program program{};
    ASSERT_LT(pcap_compile(dead, &program, expression, 0, 0xFFFFFFFF), 0);
    const std::string message = pcap_geterr(dead);
    pcap_close(dead);
    for (const std::vector<std::string>& source : {std::vector<std::string>{"-r", Golden("ipv4.pcap")},
                                                   std::vector<std::string>{"-i", "nv-nosuch0"}}) {
      std::vector<std::string> args = source;
      args.push_back(expression);
      const Outcome r = RunDump(args);
      EXPECT_EQ(r.status, 2) << source[0];
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(r.err,
                "netvane-dump: filter expression \"" + std::string(expression) + "\": " + message + "\n");
    }
  }
}

}  // namespace
