#pragma once
// netvane-dump run by the live tests inside their private network: in the
// foreground or in the background, with marker frames sent meanwhile, and the
// pcap files it writes read back.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/live/veth_lab.h"

extern char** environ;

namespace netvane::lab {

struct Result {
  int status = -1;
  std::string out, err;
};

// `shellPrefix` runs before netvane-dump in the same shell (limits, traps).
inline Result RunDump(const std::string& args, const std::string& shellPrefix = "") {
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

inline size_t Lines(const std::string& text) {
  return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

// A marker frame of `size` bytes.
inline Bytes Marker(uint32_t index, size_t size) {
  Bytes frame = MarkerFrame(index);
  frame.resize(std::max(size, frame.size()), 0xA5);
  return frame;
}

// Sends marker frames of `size` bytes from the peer, `perTurn` of them at a
// time, until it is destroyed. A turn takes a few milliseconds for the peer's
// socket and a pause of 2 ms; there are at most 5000.
class Sender {
 public:
  explicit Sender(const VethLab& lab, size_t size = 60, uint32_t perTurn = 1)
      : run_(std::async(std::launch::async, [this, &lab, size, perTurn] {
          for (uint32_t turn = 0, next = 0; turn < 5000 && !done_.load(); ++turn) {
            std::vector<Bytes> frames;
            for (uint32_t k = 0; k < perTurn; ++k) frames.push_back(Marker(next++, size));
            lab.InjectFromPeer(frames);
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
  Bytes bytes;
};

// Every record of a pcap file; `clean` tells whether the file read to its end without error.
inline std::vector<PcapRecord> ReadPcap(const std::string& path, bool& clean) {
  std::vector<PcapRecord> records;
  char err[PCAP_ERRBUF_SIZE] = {};
  clean = false;
  pcap_t* p = pcap_open_offline(path.c_str(), err);
  if (p == nullptr) return records;
  pcap_pkthdr* h = nullptr;
  const u_char* data = nullptr;
  int status;
  while ((status = pcap_next_ex(p, &h, &data)) == 1)
    records.push_back({h->ts, h->len, Bytes(data, data + h->caplen)});
  clean = status == PCAP_ERROR_BREAK && pcap_datalink(p) == DLT_EN10MB;
  pcap_close(p);
  return records;
}

// The records are consecutive marker frames of `size` bytes exactly as sent;
// where the kernel reports frames it dropped (`err` is netvane-dump's
// standard error), the markers only have to rise.
inline void ExpectSentMarkers(const std::vector<PcapRecord>& records, const std::string& err,
                              size_t size = 60) {
  ASSERT_FALSE(records.empty());
  const bool kernelDropped = err.find(", 0 dropped by the kernel") == std::string::npos;
  const auto first = MarkerIndex(records[0].bytes);
  ASSERT_TRUE(first.has_value());
  uint32_t previous = *first;
  for (size_t k = 0; k < records.size(); ++k) {
    const auto index = MarkerIndex(records[k].bytes);
    ASSERT_TRUE(index.has_value()) << k;
    if (kernelDropped)
      ASSERT_TRUE(k == 0 || *index > previous) << k << "\n" << err;
    else
      ASSERT_EQ(*index, *first + uint32_t(k)) << k << "\n" << err;
    ASSERT_EQ(records[k].bytes, Marker(*index, size)) << k;
    EXPECT_EQ(records[k].wireLength, records[k].bytes.size()) << k;
    previous = *index;
  }
}

// netvane-dump started in the background, its output going to files. With
// `ownGroup` it leads a process group of its own, as a shell's foreground
// job does, so that kill(-pid(), SIGINT) is a terminal's Ctrl-C.
class BackgroundDump {
 public:
  explicit BackgroundDump(const std::vector<std::string>& args, bool ownGroup = false)
      : base_("/tmp/nvdumpbg" + std::to_string(getpid())) {
    std::vector<char*> argv{const_cast<char*>(NETVANE_DUMP)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, (base_ + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, (base_ + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    if (ownGroup) {
      posix_spawnattr_setpgroup(&attr, 0);
      posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    }
    if (posix_spawn(&pid_, NETVANE_DUMP, &actions, &attr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
  }
  ~BackgroundDump() {
    if (pid_ > 0) Wait(std::chrono::seconds(0));
    std::remove((base_ + ".out").c_str());
    std::remove((base_ + ".err").c_str());
  }
  pid_t pid() const { return pid_; }
  // Waits until standard error holds `text`; false when it has not after `limit`.
  bool WaitForErr(const std::string& text, std::chrono::seconds limit) const {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (Err().find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
  }
  std::string Out() const { return Read(".out"); }
  std::string Err() const { return Read(".err"); }
  // Its exit status; -1 when it did not exit in time (it is killed then).
  int Wait(std::chrono::seconds limit) {
    int raw = 0;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (waitpid(pid_, &raw, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &raw, 0);
        raw = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
    return raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }

 private:
  std::string Read(const char* suffix) const {
    std::stringstream text;
    text << std::ifstream(base_ + suffix).rdbuf();
    return text.str();
  }
  std::string base_;
  pid_t pid_ = -1;
};

}  // namespace netvane::lab
