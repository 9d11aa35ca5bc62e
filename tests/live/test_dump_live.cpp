// netvane-dump's live mode end to end, run as a child process inside this
// test's private network.
#include <gtest/gtest.h>

#include <pcap/pcap.h>
#include <sys/stat.h>
#include <sys/time.h>
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

// `shellPrefix` runs before netvane-dump in the same shell (limits, traps).
Result RunDump(const std::string& args, const std::string& shellPrefix = "") {
  const std::string base = "/tmp/nvdumplive" + std::to_string(getpid());
  const std::string cmd = "timeout -s KILL 20 sh -c '" + shellPrefix + "exec " + NETVANE_DUMP + " " + args +
                          "' >" + base + ".out 2>" + base + ".err";
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

// Sends marker frames from the peer, one every 2 ms, until `done` (at most 10 s).
class Sender {
 public:
  explicit Sender(const netvane::lab::VethLab& lab)
      : run_(std::async(std::launch::async, [this, &lab] {
          for (uint32_t i = 0; i < 5000 && !done_.load(); ++i) {
            lab.InjectFromPeer({netvane::lab::MarkerFrame(i)});
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
          }
        })) {}
  ~Sender() {
    done_.store(true);
    run_.get();
  }

 private:
  std::atomic<bool> done_{false};
  std::future<void> run_;
};

struct PcapRecord {
  timeval ts;
  uint32_t wireLength;
  netvane::lab::Bytes bytes;
};

// Every record of a pcap file; `clean` tells whether the file read to its end without error.
std::vector<PcapRecord> ReadPcap(const std::string& path, bool& clean) {
  std::vector<PcapRecord> records;
  char err[PCAP_ERRBUF_SIZE] = {};
  clean = false;
  pcap_t* p = pcap_open_offline(path.c_str(), err);
  if (p == nullptr) return records;
  pcap_pkthdr* h = nullptr;
  const u_char* data = nullptr;
  int status;
  while ((status = pcap_next_ex(p, &h, &data)) == 1)
    records.push_back({h->ts, h->len, netvane::lab::Bytes(data, data + h->caplen)});
  clean = status == PCAP_ERROR_BREAK && pcap_datalink(p) == DLT_EN10MB;
  pcap_close(p);
  return records;
}

// The file holds consecutive marker frames exactly as sent; where the kernel
// reports frames it dropped (`err` is netvane-dump's standard error), the
// markers only have to rise.
void ExpectSentMarkers(const std::vector<PcapRecord>& records, const std::string& err) {
  ASSERT_FALSE(records.empty());
  const bool kernelDropped = err.find(", 0 dropped by the kernel") == std::string::npos;
  const auto first = netvane::lab::MarkerIndex(records[0].bytes);
  ASSERT_TRUE(first.has_value());
  uint32_t previous = *first;
  for (size_t k = 0; k < records.size(); ++k) {
    const auto index = netvane::lab::MarkerIndex(records[k].bytes);
    ASSERT_TRUE(index.has_value()) << k;
    if (kernelDropped)
      ASSERT_TRUE(k == 0 || *index > previous) << k << "\n" << err;
    else
      ASSERT_EQ(*index, *first + uint32_t(k)) << k << "\n" << err;
    ASSERT_EQ(records[k].bytes, netvane::lab::MarkerFrame(*index)) << k;
    EXPECT_EQ(records[k].wireLength, records[k].bytes.size()) << k;
    previous = *index;
  }
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

}  // namespace
