// netvane-dump's options, run through the real program: every malformed,
// out-of-range or ill-matched option is a usage error (status 2) with its
// reason, and the largest values are taken. None of these runs captures: an
// accepted capture names an adapter that does not exist and ends with status 1.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Outcome {
  int status = -1;  // -1: killed or did not end in time
  std::string err;
};

Outcome RunDump(const std::vector<std::string>& args) {
  const std::string errFile = "/tmp/nvdumpopt" + std::to_string(getpid()) + ".err";
  std::vector<char*> argv{const_cast<char*>(NETVANE_DUMP)};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = -1;
  Outcome r;
  const int spawned = posix_spawn(&pid, NETVANE_DUMP, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return r;
  int raw = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (waitpid(pid, &raw, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &raw, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  std::stringstream err;
  err << std::ifstream(errFile).rdbuf();
  r.err = err.str();
  std::remove(errFile.c_str());
  return r;
}

TEST(DumpOptions, BadOptionsAreUsageErrorsAndTheLargestValuesAreTaken) {
  const std::string none = "nv-nosuch0";  // no adapter is called so
  const std::string capture = "/tmp/nvdumpopt.pcap";
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
      {{"-i", none, "-Vw", capture}, 2, "-V and -x print rows; -w prints none"},
      {{"-C", "1", "x.pcap"}, 2, "-c, -f, -w, -C, -G and -W belong to live capture"},
      {{"-c", "5", "x.pcap"}, 2, "-c, -f, -w, -C, -G and -W belong to live capture"},
      {{"-D", "-i", none}, 2, "-D takes no adapter and no files"},
      {{"-i", none, "x.pcap"}, 2, "give either -i ADAPTER or files, not both"},
      // Taken: the run gets as far as looking for the adapter.
      {{"-i", none, "-c", "2147483647"}, 1, "no capture adapter " + none},
      {{"-i", none, "-w", capture, "-C", "2147483647", "-G", "2147483647", "-W", "2147483647"},
       1,
       "no capture adapter " + none},
      {{"-i", "2147483647", "-c1"}, 1, "no capture adapter 2147483647"},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const std::string& a : c.args) line += " '" + a + "'";
    SCOPED_TRACE("netvane-dump" + line);
    const Outcome r = RunDump(c.args);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(r.err.rfind("netvane-dump: " + c.reason, 0), 0u) << r.err;
    EXPECT_EQ(r.err.find("usage: ") != std::string::npos, c.status == 2) << r.err;
  }
  EXPECT_NE(access(capture.c_str(), F_OK), 0) << "no run got as far as writing";
}

}  // namespace
