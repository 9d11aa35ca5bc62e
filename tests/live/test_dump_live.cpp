// netvane-dump's live mode end to end, run as a child process inside this
// test's private network.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <future>
#include <sstream>

#include "tests/live/live_capture.h"

namespace {

struct Result {
  int status = -1;
  std::string out, err;
};

Result RunDump(const std::string& args) {
  const std::string base = "/tmp/nvdumplive" + std::to_string(getpid());
  const std::string cmd = std::string("timeout -s KILL 20 ") + NETVANE_DUMP + " " + args + " >" + base +
                          ".out 2>" + base + ".err";
  Result r;
  const int raw = std::system(cmd.c_str());
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  std::stringstream out, err;
  out << std::ifstream(base + ".out").rdbuf();
  err << std::ifstream(base + ".err").rdbuf();
  r.out = out.str();
  r.err = err.str();
  std::remove((base + ".out").c_str());
  std::remove((base + ".err").c_str());
  return r;
}

size_t Lines(const std::string& text) {
  return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

TEST(DumpLive, ListsAdaptersAndCapturesCountedFrames) {
  if (!netvane::lab::SkipReason().empty()) GTEST_SKIP() << netvane::lab::SkipReason();
  netvane::lab::VethLab lab;
  if (!lab.ok()) GTEST_SKIP() << "could not create a veth pair in a namespace";

  const Result list = RunDump("-D");
  EXPECT_EQ(list.status, 0) << list.err;
  EXPECT_NE(list.out.find("\t" + lab.localIf() + "\n"), std::string::npos) << list.out;
  EXPECT_EQ(list.out.find("\tany\n"), std::string::npos) << list.out;
  EXPECT_EQ(list.out.rfind("0\t", 0), 0u) << list.out;

  // Frames keep coming until the child has printed its five and stopped.
  std::atomic<bool> done{false};
  auto sender = std::async(std::launch::async, [&] {
    for (uint32_t i = 0; i < 100 && !done.load(); ++i) {
      lab.InjectFromPeer({netvane::lab::MarkerFrame(i)});
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });
  const Result capture = RunDump("-i " + lab.localIf() + " -c 5");
  done.store(true);
  sender.get();
  EXPECT_EQ(capture.status, 0) << capture.err;
  EXPECT_EQ(Lines(capture.out), 5u) << capture.out;
  EXPECT_EQ(capture.out.rfind("1\t02:00:00:00:00:01\t02:00:00:00:00:02\t", 0), 0u) << capture.out;
  EXPECT_NE(capture.err.find(" frames received, 0 dropped by the kernel\n"), std::string::npos)
      << capture.err;

  const Result missing = RunDump("-i nv-nosuch0 -c 1");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("nv-nosuch0"), std::string::npos) << missing.err;
}

}  // namespace
