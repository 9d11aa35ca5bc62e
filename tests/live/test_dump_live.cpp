// netvane-dump's live mode end to end, run as a child process inside this
// test's private network.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pcap/pcap.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>

#include "tests/live/dump_run.h"
#include "tests/live/live_capture.h"

namespace {

using netvane::lab::BackgroundDump;
using netvane::lab::ExpectSentMarkers;
using netvane::lab::Lines;
using netvane::lab::PcapRecord;
using netvane::lab::ReadPcap;
using netvane::lab::Result;
using netvane::lab::RunDump;
using netvane::lab::Sender;

TEST(DumpLive, ListsAdaptersAndCapturesCountedFrames) {
  if (!netvane::lab::SkipReason().empty()) GTEST_SKIP() << netvane::lab::SkipReason();
  netvane::lab::VethLab lab;
  if (!lab.ok()) GTEST_SKIP() << "could not create a veth pair in a namespace";

  const Result list = RunDump("-D");
  EXPECT_EQ(list.status, 0) << list.err;
  EXPECT_NE(list.out.find("\t" + lab.localIf() + "\n"), std::string::npos) << list.out;
  EXPECT_EQ(list.out.find("\tany\n"), std::string::npos) << list.out;
  EXPECT_EQ(list.out.rfind("1\t", 0), 0u) << list.out;  // numbered from 1, as tcpdump -D numbers

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

TEST(DumpLive, WritesTheFramesSentToAPcapFile) {
  if (!netvane::lab::SkipReason().empty()) GTEST_SKIP() << netvane::lab::SkipReason();
  netvane::lab::VethLab lab;
  if (!lab.ok()) GTEST_SKIP() << "could not create a veth pair in a namespace";
  const std::string file = "/tmp/nvdumpw" + std::to_string(getpid()) + ".pcap";

  timeval before{}, after{};
  gettimeofday(&before, nullptr);
  Result capture;
  {
    Sender sender(lab);
    capture = RunDump("-i " + lab.localIf() + " -c 40 -w " + file);
  }
  gettimeofday(&after, nullptr);
  EXPECT_EQ(capture.status, 0) << capture.err;
  EXPECT_EQ(capture.out, "") << "no rows with -w";
  EXPECT_NE(capture.err.find(" frames received, 0 dropped by the kernel\n"), std::string::npos)
      << capture.err;

  bool clean = false;
  const std::vector<PcapRecord> records = ReadPcap(file, clean);
  std::remove(file.c_str());
  EXPECT_TRUE(clean);
  ASSERT_EQ(records.size(), 40u);
  ExpectSentMarkers(records, capture.err);
  // The capture's own time stamps: within the run, in order.
  for (size_t k = 0; k < records.size(); ++k) {
    EXPECT_FALSE(timercmp(&records[k].ts, &before, <)) << k;
    EXPECT_FALSE(timercmp(&records[k].ts, &after, >)) << k;
    if (k > 0) {
      EXPECT_FALSE(timercmp(&records[k].ts, &records[k - 1].ts, <)) << k;
    }
  }
}

// A target that cannot be written, at once or after a while, ends the capture
// with the reason; a file cut short keeps only whole frames.
TEST(DumpLive, AWriteErrorEndsTheCaptureAndLeavesAReadableFile) {
  if (!netvane::lab::SkipReason().empty()) GTEST_SKIP() << netvane::lab::SkipReason();
  netvane::lab::VethLab lab;
  if (!lab.ok()) GTEST_SKIP() << "could not create a veth pair in a namespace";
  const std::string tooBig = "/tmp/nvdumpfull" + std::to_string(getpid()) + ".pcap";
  struct Case {
    std::string file, shellPrefix, reason;
    bool keepsFrames;
  };
  const Case cases[] = {
      {"/dev/full", "", "cannot write /dev/full: No space left on device", false},
      {"/nonexistent-nv/x.pcap", "", "cannot write /nonexistent-nv/x.pcap: No such file or directory", false},
      // 8 KiB (16 blocks of 512 bytes), then every write fails as on a full disk.
      {tooBig, "trap \"\" XFSZ; ulimit -f 16; ", "cannot write " + tooBig + ": File too large", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    Result capture;
    {
      Sender sender(lab);
      capture = RunDump("-i " + lab.localIf() + " -c 4000 -w " + c.file, c.shellPrefix);
    }
    EXPECT_EQ(capture.status, 1) << capture.err;
    EXPECT_NE(capture.err.find("netvane-dump: " + c.reason), std::string::npos) << capture.err;
    if (!c.keepsFrames) continue;
    bool clean = false;
    const std::vector<PcapRecord> records = ReadPcap(c.file, clean);
    struct stat st {};
    stat(c.file.c_str(), &st);
    std::remove(c.file.c_str());
    EXPECT_TRUE(clean) << "the file reads to its end";
    ExpectSentMarkers(records, capture.err);
    EXPECT_EQ(size_t(st.st_size), 24 + records.size() * (16 + 60)) << "no torn record at the end";
    EXPECT_NE(capture.err.find("keeps the first " + std::to_string(records.size()) + " frames"),
              std::string::npos)
        << capture.err;
    EXPECT_NE(capture.err.find(" frames received, "), std::string::npos) << capture.err;
  }
}

// A filter expression and a host list together: the file holds exactly the
// frames sent that both take, in order, and nothing else.
TEST(DumpLive, CapturesExactlyTheFramesItsExpressionAndHostListTake) {
  if (!netvane::lab::SkipReason().empty()) GTEST_SKIP() << netvane::lab::SkipReason();
  netvane::lab::VethLab lab;
  if (!lab.ok()) GTEST_SKIP() << "could not create a veth pair in a namespace";
  const std::string file = "/tmp/nvdumpexpr" + std::to_string(getpid()) + ".pcap";
  const std::string a = "192.0.2.1", b = "192.0.2.2", c = "192.0.2.3";
  // In turn: taken (a to b, UDP port 53), the wrong port, the wrong host, no IP.
  std::vector<netvane::lab::Bytes> frames;
  for (uint32_t i = 0; i < 200; ++i) {
    netvane::lab::Bytes f;
    switch (i % 4) {
      case 0:
        f = netvane::lab::Ipv4UdpFrame(a, b, 53);
        break;
      case 1:
        f = netvane::lab::Ipv4UdpFrame(a, b, 54);
        break;
      case 2:
        f = netvane::lab::Ipv4UdpFrame(c, b, 53);
        break;
      default:
        f = netvane::lab::MarkerFrame(i);
        break;
    }
    for (int k = 0; k < 4; ++k) f[42 + k] = static_cast<uint8_t>(i >> (24 - 8 * k));  // after the UDP header
    frames.push_back(f);
  }
  BackgroundDump dump({"-i", lab.localIf(), "-f", a, "-c", "50", "-w", file, "udp", "dst", "port", "53"});
  ASSERT_TRUE(dump.WaitForErr(
      "listening on " + lab.localIf() + ", link-type EN10MB (Ethernet), snapshot length 20000 bytes\n",
      std::chrono::seconds(10)))
      << dump.Err();
  for (size_t at = 0; at < frames.size(); at += 20) {
    lab.InjectFromPeer({frames.begin() + at, frames.begin() + at + 20});
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  const int status = dump.Wait(std::chrono::seconds(20));
  EXPECT_EQ(status, 0) << dump.Err();
  bool clean = false;
  const std::vector<PcapRecord> records = ReadPcap(file, clean);
  std::remove(file.c_str());
  EXPECT_TRUE(clean);
  ASSERT_EQ(records.size(), 50u) << dump.Err();
  for (size_t k = 0; k < records.size(); ++k) EXPECT_EQ(records[k].bytes, frames[4 * k]) << k;
}

// Ctrl-C in a terminal sends SIGINT to the whole foreground process group.
// The capture ends as tcpdump's does: status 0, the counts with the
// kernel's, every frame received in the output, and no helper left behind.
TEST(DumpLive, CtrlCToTheProcessGroupEndsTheCaptureCleanly) {
  if (!netvane::lab::SkipReason().empty()) GTEST_SKIP() << netvane::lab::SkipReason();
  netvane::lab::VethLab lab;
  if (!lab.ok()) GTEST_SKIP() << "could not create a veth pair in a namespace";
  const std::string file = "/tmp/nvdumpint" + std::to_string(getpid()) + ".pcap";
  for (const bool write : {true, false}) {
    SCOPED_TRACE(write ? "-w" : "rows");
    std::vector<std::string> args = {"-i", lab.localIf()};
    if (write) args.insert(args.end(), {"-w", file});
    Sender sender(lab);
    BackgroundDump dump(args, true);
    ASSERT_TRUE(dump.WaitForErr("listening on ", std::chrono::seconds(10))) << dump.Err();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const pid_t helper =
        std::atoi(netvane::testing::ShLine("pgrep -P " + std::to_string(dump.pid())).c_str());
    EXPECT_GT(helper, 0);
    ASSERT_EQ(kill(-dump.pid(), SIGINT), 0);
    const int status = dump.Wait(std::chrono::seconds(20));
    const std::string err = dump.Err();
    EXPECT_EQ(status, 0) << err;
    unsigned received = 0;
    const size_t at = err.find(" frames received, 0 dropped by the kernel\n");
    ASSERT_NE(at, std::string::npos) << err;
    received = unsigned(std::atoi(err.c_str() + err.rfind('\n', at - 1) + 1));
    EXPECT_GT(received, 0u) << err;
    if (write) {
      bool clean = false;
      const std::vector<PcapRecord> records = ReadPcap(file, clean);
      std::remove(file.c_str());
      EXPECT_TRUE(clean);
      EXPECT_EQ(records.size(), received);
      ExpectSentMarkers(records, err);
    } else {
      EXPECT_EQ(Lines(dump.Out()), received);
    }
    // Reaped by netvane-dump, not left to run on.
    if (helper > 0) {
      EXPECT_NE(netvane::testing::ShLine("cat /proc/" + std::to_string(helper) + "/comm 2>/dev/null"),
                "netvane-capture");
    }
  }
}

struct CaptureFile {
  std::string name;
  uintmax_t size = 0;
  std::vector<PcapRecord> records;
};

// The files in `dir`, the one with the oldest frames first; each must read
// to its end on its own.
std::vector<CaptureFile> ReadFiles(const std::string& dir) {
  std::vector<CaptureFile> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    CaptureFile f{entry.path().filename().string(), entry.file_size(), {}};
    bool clean = false;
    f.records = ReadPcap(entry.path().string(), clean);
    EXPECT_TRUE(clean) << f.name << " is a capture of its own";
    EXPECT_FALSE(f.records.empty()) << f.name;
    files.push_back(std::move(f));
  }
  auto first = [](const CaptureFile& f) {
    return f.records.empty() ? UINT32_MAX
                             : netvane::lab::MarkerIndex(f.records[0].bytes).value_or(UINT32_MAX);
  };
  std::sort(files.begin(), files.end(),
            [&](const CaptureFile& a, const CaptureFile& b) { return first(a) < first(b); });
  return files;
}

double Seconds(const timeval& t) {
  return double(t.tv_sec) + double(t.tv_usec) / 1e6;
}

// Every frame written is in exactly one file, in order, and no file is
// written past its size or time; the ring keeps only its last files.
TEST(DumpLive, RotatesFilesBySizeAndTimeWithoutSplittingOrLosingAFrame) {
  if (!netvane::lab::SkipReason().empty()) GTEST_SKIP() << netvane::lab::SkipReason();
  netvane::lab::VethLab lab;
  if (!lab.ok()) GTEST_SKIP() << "could not create a veth pair in a namespace";
  char year[16] = {};
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  std::strftime(year, sizeof year, "%Y", localtime_r(&now, &local));
  const struct Case {
    std::vector<std::string> options;  // besides -i and -w
    std::string name;                  // given to -w
    size_t frameSize;
    uint32_t perTurn;
    uint64_t count;                  // -c; 0: Ctrl-C after 2.5 s
    std::vector<std::string> names;  // oldest frames first; empty: FILE, FILE1, ... (at least two)
  } cases[] = {
      // 659 frames of 1500 bytes fill a file of 1,000,000 bytes.
      {{"-C", "1"}, "cap", 1500, 40, 2000, {"cap", "cap1", "cap2", "cap3"}},
      {{"-C1", "-W", "3"}, "cap", 1500, 40, 2000, {"cap1", "cap2", "cap0"}},
      {{"-G", "1"}, "cap-%Y.pcap", 60, 10, 0, {}},
  };
  for (const Case& c : cases) {
    const bool bySize = c.frameSize > 60, ring = c.options.size() > 2;
    SCOPED_TRACE(bySize ? (ring ? "-C -W" : "-C") : "-G");
    char dirTemplate[] = "/tmp/nvdumprotXXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    const std::string dir = dirTemplate;
    std::vector<std::string> args = {"-i", lab.localIf(), "-w", dir + "/" + c.name};
    args.insert(args.end(), c.options.begin(), c.options.end());
    if (c.count != 0) args.insert(args.end(), {"-c", std::to_string(c.count)});
    Result capture;
    {
      Sender sender(lab, c.frameSize, c.perTurn);
      BackgroundDump dump(args);
      if (c.count == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        kill(dump.pid(), SIGINT);
      }
      capture.status = dump.Wait(std::chrono::seconds(30));
      capture.out = dump.Out();
      capture.err = dump.Err();
    }
    const std::vector<CaptureFile> files = ReadFiles(dir);
    std::filesystem::remove_all(dir);
    EXPECT_EQ(capture.status, 0) << capture.err;
    EXPECT_EQ(capture.out, "");

    std::vector<std::string> names = c.names;
    if (names.empty()) {
      const std::string base = "cap-" + std::string(year) + ".pcap";
      EXPECT_GE(files.size(), 2u);
      for (size_t k = 0; k < files.size(); ++k) names.push_back(k == 0 ? base : base + std::to_string(k));
    }
    std::vector<std::string> got;
    std::vector<PcapRecord> all;
    for (const CaptureFile& f : files) {
      got.push_back(f.name);
      all.insert(all.end(), f.records.begin(), f.records.end());
    }
    ASSERT_EQ(got, names);
    ExpectSentMarkers(all, capture.err, c.frameSize);
    // The ring overwrote its first file, which was as full as the next.
    if (c.count != 0) {
      EXPECT_EQ(all.size() + (ring ? files[0].records.size() : 0), c.count);
    }

    for (size_t k = 0; k < files.size(); ++k) {
      SCOPED_TRACE(files[k].name);
      const CaptureFile& f = files[k];
      if (bySize) {
        EXPECT_LE(f.size, 1000000u);
        // Only a frame that would not fit starts the next file.
        if (k + 1 < files.size()) {
          EXPECT_GT(f.size + 16 + c.frameSize, 1000000u);
        }
      }
      if (!bySize) {
        EXPECT_LT(Seconds(f.records.back().ts) - Seconds(f.records.front().ts), 1.0);
        // A later file starts with its first frame.
        if (k >= 1 && k + 1 < files.size()) {
          EXPECT_GE(Seconds(files[k + 1].records.front().ts) - Seconds(f.records.front().ts), 1.0);
        }
      }
    }
  }
}

// A capture helper that dies, or falls silent until Ctrl-C: the run ends with
// status 1 and says the kernel's counters are unavailable instead of making
// up "0 dropped".
TEST(DumpLive, AHelperThatDiesOrFallsSilentLeavesTheCountersUnavailable) {
  if (!netvane::lab::SkipReason().empty()) GTEST_SKIP() << netvane::lab::SkipReason();
  netvane::lab::VethLab lab;
  if (!lab.ok()) GTEST_SKIP() << "could not create a veth pair in a namespace";
  const struct {
    int helperSignal;
    bool interrupt;  // then Ctrl-C to netvane-dump
  } cases[] = {{SIGKILL, false}, {SIGSTOP, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(strsignal(c.helperSignal));
    Sender sender(lab);
    BackgroundDump dump({"-i", lab.localIf()});
    ASSERT_GT(dump.pid(), 0);
    // Rows show that the helper delivers.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (Lines(dump.Out()) < 5 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_GE(Lines(dump.Out()), 5u) << dump.Err();
    const pid_t helper =
        std::atoi(netvane::testing::ShLine("pgrep -P " + std::to_string(dump.pid())).c_str());
    ASSERT_GT(helper, 0);
    kill(helper, c.helperSignal);
    if (c.interrupt) kill(dump.pid(), SIGINT);
    const int status = dump.Wait(std::chrono::seconds(30));
    // netvane-dump reaps its helper; one it left behind is ended here.
    if (netvane::testing::ShLine("cat /proc/" + std::to_string(helper) + "/comm 2>/dev/null") ==
        "netvane-capture")
      kill(helper, SIGKILL);
    EXPECT_EQ(status, 1) << dump.Err();
    EXPECT_NE(dump.Err().find(" frames received, kernel counters unavailable\n"), std::string::npos)
        << dump.Err();
    EXPECT_EQ(dump.Err().find("dropped by the kernel"), std::string::npos) << dump.Err();
  }
}

}  // namespace
