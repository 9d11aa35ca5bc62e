// The real main window (offscreen) with the real libpcap driver, end to end
// under full load: this program moves into a network namespace of its own,
// makes a veth pair whose far end sits in a second namespace, selects the near
// end in the adapter box and clicks Start, then tcpreplay sends 1,000,000
// frames into the far end at top speed.
//
// Runs, each on a fresh replay of the same file:
//   window            the window alone;
//   window + tcpdump  the window and `tcpdump -w /dev/null` on the same replay;
//   tcpdump           tcpdump alone;
//   window, display filter  the window with a display filter that every
//                     replayed frame passes, so each is matched and listed.
// Per window run: frames listed against frames sent (the listed ones checked
// to be the replay's, in order, none twice), kernel drops, the longest stall
// of the UI thread while the frames arrive, CPU seconds per million frames,
// and peak resident memory per frame (the frames' bytes are in the spool).
// Goals: every frame listed wherever tcpdump loses none; no stall over 50 ms;
// at most 64 bytes per frame.
//
// Then a memory room: a child copy of this program runs the window inside a
// memory cgroup of 300 MB while 1442-byte frames arrive at top speed for 12 s;
// it must survive, its frames going to the spool on disk, each one intact.
// A control run without the index's memory budget shows it is not needed there.
//
// Needs root, tcpreplay and tcpdump; says why and exits 0 without them.
// Arguments from the benchmark runner are ignored.
#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <fcntl.h>
#include <pcap/pcap.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/Form1.h"
#include "app/display_filter.h"
#include "app/exception_report.h"
#include "app/packet_list_model.h"
#include "bench/app/window_probe.h"
#include "capture/KelWinPcapNetMonitor.h"
#include "pcapfile/frame_list.h"
#include "tests/live/veth_lab.h"

extern char** environ;

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
using netvane::testing::Sh;

constexpr uint32_t kFrames = 1'000'000;
constexpr uint16_t kSourcePort = 40000;  // marks the replay's frames
constexpr size_t kIndexAt = 42;          // the frame's index, 32-bit big-endian, after the UDP header
constexpr long kRoomBytes = 300L << 20;
constexpr uint32_t kRoomFrameBytes = 1442;
constexpr int kRoomFileFrames = 10000;
constexpr int kRoomSeconds = 12;  // of replay, the file over and over: over 1 GB

// IPv4/UDP from 192.0.2.1 to 192.0.2.2, to a hardware address that is nobody's
// here, so the capturing side only sees the frames and never answers.
Bytes ReplayFrame(uint32_t index, size_t length) {
  Bytes f(length, 0);
  const uint8_t head[] = {0x02, 0, 0, 0, 0, 0x02, 0x02, 0, 0, 0, 0, 0x01, 0x08, 0x00};
  std::memcpy(f.data(), head, sizeof head);
  const size_t ipLength = length - 14;
  f[14] = 0x45, f[16] = uint8_t(ipLength >> 8), f[17] = uint8_t(ipLength), f[22] = 64, f[23] = 17;
  f[26] = 192, f[27] = 0, f[28] = 2, f[29] = 1, f[30] = 192, f[31] = 0, f[32] = 2, f[33] = 2;
  f[34] = uint8_t(kSourcePort >> 8), f[35] = uint8_t(kSourcePort), f[37] = 9;
  f[38] = uint8_t((ipLength - 20) >> 8), f[39] = uint8_t(ipLength - 20);
  for (int b = 0; b < 4; ++b) f[kIndexAt + size_t(b)] = uint8_t(index >> (24 - 8 * b));
  return f;
}

std::optional<uint32_t> ReplayIndex(std::span<const uint8_t> f) {
  if (f.size() < kIndexAt + 4 || f[12] != 0x08 || f[13] != 0x00 || f[23] != 17) return std::nullopt;
  if (f[34] != uint8_t(kSourcePort >> 8) || f[35] != uint8_t(kSourcePort & 0xFF)) return std::nullopt;
  return uint32_t(f[kIndexAt]) << 24 | uint32_t(f[kIndexAt + 1]) << 16 | uint32_t(f[kIndexAt + 2]) << 8 |
         f[kIndexAt + 3];
}

// The main replay's frames: 60 to 190 bytes, 125 on average.
size_t ReplayLength(uint32_t index) {
  return size_t(60 + (index * 37) % 131);
}

// A pcap file written with libpcap's writer. sizeOf(i) gives frame i's length.
template <typename SizeOf>
bool WriteReplay(const std::string& path, uint32_t count, SizeOf sizeOf) {
  pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
  pcap_dumper_t* out = pcap_dump_open(dead, path.c_str());
  if (out == nullptr) {
    std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), pcap_geterr(dead));
    pcap_close(dead);
    return false;
  }
  for (uint32_t i = 0; i < count; ++i) {
    const Bytes f = ReplayFrame(i, sizeOf(i));
    pcap_pkthdr h{};
    h.ts.tv_sec = 1700000000 + i / 1000000;
    h.ts.tv_usec = i % 1000000;
    h.caplen = h.len = uint32_t(f.size());
    pcap_dump(reinterpret_cast<u_char*>(out), &h, f.data());
  }
  const bool ok = pcap_dump_flush(out) == 0;
  pcap_dump_close(out);
  pcap_close(dead);
  return ok;
}

std::string ReadFile(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

// The first number after `before` in `text` (0 when absent).
uint64_t NumberAfter(const std::string& text, const std::string& before) {
  const size_t at = text.find(before);
  return at == std::string::npos ? 0 : std::strtoull(text.c_str() + at + before.size(), nullptr, 10);
}
// The number just in front of `after` in `text`, on the same line (0 when absent).
uint64_t NumberBefore(const std::string& text, const std::string& after) {
  const size_t at = text.find(after);
  if (at == std::string::npos) return 0;
  size_t start = text.rfind('\n', at);
  start = start == std::string::npos ? 0 : start + 1;
  return std::strtoull(text.c_str() + start, nullptr, 10);
}

// tcpreplay at top speed out of the far end, on a thread of its own.
class Replay {
 public:
  // `options`: more tcpreplay options, such as --loop and --duration.
  Replay(const netvane::lab::VethLab& lab, const std::string& pcap, const std::string& options = "") {
    const std::string out = pcap + ".replay";
    const std::string cmd = "ip netns exec " + lab.peerNs() + " tcpreplay -q --topspeed " + options + " -i " +
                            lab.peerIf() + " " + pcap + " >" + out + " 2>&1";
    thread_ = std::thread([this, cmd, out] {
      const auto start = Clock::now();
      status_ = std::system(cmd.c_str());
      seconds_ = std::chrono::duration<double>(Clock::now() - start).count();
      const std::string text = ReadFile(out);
      std::remove(out.c_str());
      sent_ = NumberAfter(text, "Successful packets:");
      if (sent_ == 0) sent_ = NumberAfter(text, "Actual: ");
      pps_ = NumberAfter(text, "Mbps, ");
      done_.store(true);
    });
  }
  ~Replay() { thread_.join(); }
  bool done() const { return done_.load(); }
  uint64_t sent() const { return sent_; }
  double seconds() const { return seconds_; }
  uint64_t pps() const { return pps_; }
  bool ok() const { return status_ == 0 && sent_ > 0; }

 private:
  std::thread thread_;
  std::atomic<bool> done_{false};
  int status_ = -1;
  double seconds_ = 0;
  uint64_t sent_ = 0, pps_ = 0;
};

// tcpdump -w /dev/null on the near end, from "listening" to SIGTERM.
class Tcpdump {
 public:
  // Its closing counts are read from `errFile`.
  Tcpdump(const std::string& ifname, const std::string& errFile) : err_(errFile) {
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::string a0 = "tcpdump", a1 = "-n", a2 = "-i", a4 = "-w", a5 = "/dev/null", a3 = ifname;
    char* argv[] = {a0.data(), a1.data(), a2.data(), a3.data(), a4.data(), a5.data(), nullptr};
    if (posix_spawnp(&pid_, "tcpdump", &files, nullptr, argv, environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&files);
    for (int i = 0; i < 100 && pid_ > 0 && ReadFile(err_).find("listening on") == std::string::npos; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ~Tcpdump() {
    Stop();
    std::remove(err_.c_str());
  }
  bool listening() const { return pid_ > 0 && ReadFile(err_).find("listening on") != std::string::npos; }
  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
    const std::string text = ReadFile(err_);
    captured = NumberBefore(text, " packets captured");
    if (captured == 0) captured = NumberBefore(text, " packet captured");
    received = NumberBefore(text, " packets received by filter");
    dropped = NumberBefore(text, " packets dropped by kernel");
  }
  uint64_t captured = 0, received = 0, dropped = 0;

 private:
  std::string err_;
  pid_t pid_ = -1;
};

struct WindowRun {
  uint64_t sent = 0, pps = 0;
  uint64_t listed = 0, ofReplay = 0, outOfOrder = 0, corrupt = 0;
  unsigned kernelDrops = 0;
  bool statsRead = false;
  double startClickMs = 0, stallMs = 0, stallCpuMs = 0, stallUserMs = 0, stallAtS = 0, replaySeconds = 0,
         cpuSeconds = 0, uiCpuSeconds = 0;
  long peakGrowth = 0, bindGrowth = 0, stallWaits = 0, stallPreemptions = 0;
  uint64_t frameBytes = 0;
  std::optional<uint64_t> tcpdumpCaptured, tcpdumpReceived, tcpdumpDropped;
  std::optional<uint64_t> shown;  // rows a display filter shows once it has caught up
  std::vector<std::string> errors;
  benchprobe::Descendants helper;  // a capture helper process, when the driver uses one
  bool ok = false;
};

constexpr const char* kHelperName = "netvane-capture";

// Runs the UI thread's event loop, as the program does, until `done` holds
// (checked every 20 ms) or `limit` passes. The loop sleeps while nothing
// happens, so the UI thread's CPU time is the window's own.
void RunLoopUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  QEventLoop loop;
  QTimer check;
  const auto end = Clock::now() + limit;
  QObject::connect(&check, &QTimer::timeout, [&] {
    if (done() || Clock::now() >= end) loop.quit();
  });
  check.start(20);
  loop.exec();
}

// Until the replay is over and every frame it sent is listed, or no frame has
// been listed for `quiet`. The heartbeat stops with the last frame listed, so
// the stall covers the time the frames arrive and nothing after it.
void AwaitEnd(TForm1& form, const Replay& replay, benchprobe::Heartbeat& heart,
              std::chrono::milliseconds quiet, std::chrono::seconds limit) {
  uint32_t seen = 0;
  auto lastGrowth = Clock::now();
  RunLoopUntil(
      [&] {
        const uint32_t listed = form.packetModel()->listed();
        if (listed != seen) seen = listed, lastGrowth = Clock::now();
        if (!replay.done()) return false;
        if (listed >= replay.sent()) {
          heart.Stop();
          return true;
        }
        return Clock::now() - lastGrowth > quiet;
      },
      limit);
  heart.Stop();
}

// The window with the real driver on `ifname`, started as the Start button does.
struct LiveWindow {
  std::unique_ptr<netvane::FrameList> list = std::make_unique<netvane::FrameList>();
  TKelWinPcapNetMonitor* monitor = nullptr;
  std::unique_ptr<TForm1> form;
  std::vector<std::string> errors;  // the component's error lines, instead of its message boxes

  explicit LiveWindow(const std::string& ifname) {
    form = std::make_unique<TForm1>(*list, nullptr, [this](QObject* owner) {
      monitor = new TKelWinPcapNetMonitor(owner);
      monitor->setShowErrMsgBox(false);
      monitor->setOnStatusMessage([this](TKelNetMonitor*, const std::string& line) {
        if (line.rfind("TKelNetMonitor Error", 0) == 0) errors.push_back(line);
      });
      return monitor;
    });
    form->show();
    QCoreApplication::processEvents();
    form->CardBox->setCurrentIndex(form->CardBox->findText(QString::fromStdString(ifname)));
  }
  ~LiveWindow() {
    // The frames go unsaved: cleared first, so closing asks nothing.
    form->ClearPackets();
    form->close();
    form.reset();
  }
};

WindowRun RunWindow(const netvane::lab::VethLab& lab, const std::string& pcap, const std::string& tcpdumpErr,
                    const QString& displayFilter = QString()) {
  WindowRun r;
  LiveWindow w(lab.localIf());
  if (!displayFilter.isEmpty()) {
    // A display filter that lets every replayed frame through: each one is
    // matched and listed, the most the filter's thread can have to do.
    QString error;
    if (!w.form->displayFilter()->Apply(displayFilter, error)) {
      std::fprintf(stderr, "display filter refused: %s\n", error.toStdString().c_str());
      return r;
    }
  }
  std::unique_ptr<Tcpdump> tcpdump;
  if (!tcpdumpErr.empty()) {
    tcpdump = std::make_unique<Tcpdump>(lab.localIf(), tcpdumpErr);
    if (!tcpdump->listening()) {
      std::fprintf(stderr, "tcpdump did not start listening\n");
      return r;
    }
  }
  benchprobe::ResetPeakResident();
  const long before = benchprobe::ResidentBytes();
  const double cpuBefore = benchprobe::CpuSeconds();
  const double uiCpuBefore = benchprobe::ThreadCpuSeconds();
  const benchprobe::Descendants helperBefore = benchprobe::DescendantsNamed(kHelperName);

  auto clicked = Clock::now();
  w.form->Start->click();
  r.startClickMs = std::chrono::duration<double, std::milli>(Clock::now() - clicked).count();
  // The bind runs on the worker; the click does not wait for it.
  RunLoopUntil([&] { return !w.monitor->isStarting(); }, std::chrono::seconds(5));
  if (!w.monitor->isBound()) {
    std::fprintf(stderr, "the window did not bind %s: %s\n", lab.localIf().c_str(),
                 w.monitor->errorText().c_str());
    return r;
  }
  // The first poll is under way before the first frame.
  RunLoopUntil([] { return false; }, std::chrono::milliseconds(300));
  // What binding costs once, whatever the number of frames: mostly the
  // kernel ring that libpcap maps.
  r.bindGrowth = benchprobe::ResidentBytes() - before;

  benchprobe::Heartbeat heart;
  heart.Start();
  {
    Replay replay(lab, pcap);
    AwaitEnd(*w.form, replay, heart, std::chrono::seconds(2), std::chrono::seconds(180));
    r.replaySeconds = replay.seconds();
    r.sent = replay.sent();
    r.pps = replay.pps();
    r.ok = replay.ok();
  }
  r.stallMs = heart.LongestGapMs();
  r.stallAtS = heart.LongestGapEndS();
  r.stallCpuMs = heart.LongestGapCpuMs();
  r.stallUserMs = heart.LongestGapUserMs();
  r.stallWaits = heart.LongestGapWaits();
  r.stallPreemptions = heart.LongestGapPreemptions();
  r.cpuSeconds = benchprobe::CpuSeconds() - cpuBefore;
  r.uiCpuSeconds = benchprobe::ThreadCpuSeconds() - uiCpuBefore;
  r.helper = benchprobe::DescendantsNamed(kHelperName);
  r.helper.cpuSeconds -= helperBefore.cpuSeconds;
  r.peakGrowth = benchprobe::PeakResidentBytes() - before;
  unsigned received = 0;
  r.statsRead = w.monitor->GetKernelStats(received, r.kernelDrops);
  w.form->Stop->click();
  if (tcpdump) {
    // tcpdump counts a frame once it has taken it from its ring, whose last
    // block reaches it only after the block's time-out; let it catch up.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    tcpdump->Stop();
    r.tcpdumpCaptured = tcpdump->captured;
    r.tcpdumpReceived = tcpdump->received;
    r.tcpdumpDropped = tcpdump->dropped;
  }

  if (!displayFilter.isEmpty()) {
    TDisplayFilter* filter = w.form->displayFilter();
    RunLoopUntil(
        [&] {
          w.form->ListNewFrames();
          return filter->caughtUp();
        },
        std::chrono::seconds(30));
    r.shown = w.form->packetModel()->listed();
  }
  r.errors = w.errors;
  r.listed = w.list->Count();
  std::optional<uint32_t> last;
  w.list->ForEachFrame(1, r.listed, [&](uint32_t, std::span<const uint8_t> frame) {
    r.frameBytes += frame.size();
    const auto index = ReplayIndex(frame);
    if (!index) return true;
    ++r.ofReplay;
    if (last && *index <= *last) ++r.outOfOrder;
    const Bytes sent = ReplayFrame(*index, ReplayLength(*index));
    if (!std::equal(frame.begin(), frame.end(), sent.begin(), sent.end())) ++r.corrupt;
    last = index;
    return true;
  });
  return r;
}

void PrintWindowRun(const char* name, const WindowRun& r) {
  std::printf("%s: replayed %llu frames at about %llu frames/s%s\n", name, (unsigned long long)r.sent,
              (unsigned long long)r.pps, r.ok ? "" : " (tcpreplay FAILED)");
  std::printf(
      "  frames listed:            %llu of %llu sent (%llu others listed; %llu out of order, %llu changed)\n",
      (unsigned long long)r.ofReplay, (unsigned long long)r.sent, (unsigned long long)(r.listed - r.ofReplay),
      (unsigned long long)r.outOfOrder, (unsigned long long)r.corrupt);
  if (r.shown) std::printf("  shown by the filter:      %llu rows\n", (unsigned long long)*r.shown);
  for (const std::string& e : r.errors) std::printf("  error reported:           %s\n", e.c_str());
  if (r.statsRead)
    std::printf("  kernel drops (window):    %u\n", r.kernelDrops);
  else
    std::printf("  kernel drops (window):    not readable\n");
  if (r.tcpdumpCaptured)
    std::printf(
        "  tcpdump -w /dev/null:     %llu captured (%llu received by filter), %llu dropped by the kernel\n",
        (unsigned long long)*r.tcpdumpCaptured, (unsigned long long)*r.tcpdumpReceived,
        (unsigned long long)*r.tcpdumpDropped);
  std::printf(
      "  longest UI-thread stall:  %.1f ms (on the CPU %.1f ms, in user mode %.0f ms; slept %ld times, "
      "preempted %ld times), ending %.2f s into the replay of %.2f s (goal <= 50); Start click %.1f ms\n",
      r.stallMs, r.stallCpuMs, r.stallUserMs, r.stallWaits, r.stallPreemptions, r.stallAtS, r.replaySeconds,
      r.startClickMs);
  if (r.listed > 0) {
    const double perMillion = 1e6 / double(r.listed);
    std::printf(
        "  CPU of the window:        %.2f s per million frames (UI thread %.2f s, other threads %.2f s)\n",
        r.cpuSeconds * perMillion, r.uiCpuSeconds * perMillion, (r.cpuSeconds - r.uiCpuSeconds) * perMillion);
    if (r.helper.found > 0)
      std::printf(
          "  capture helper (%s):  %.2f s CPU per million frames, peak resident %.1f MB, beside the "
          "window's own figures\n",
          kHelperName, r.helper.cpuSeconds * perMillion, r.helper.peakResident / 1e6);
    // The frames' bytes are in the spool, not in memory.
    const double beyond = double(r.peakGrowth);
    std::printf(
        "  peak resident growth:     %.1f MB, the spool holding %.1f MB of frame bytes: %.1f bytes per "
        "frame (goal <= 64);\n"
        "                            of that, %.1f MB once for binding (the kernel ring), %.1f bytes per "
        "frame without it\n",
        r.peakGrowth / 1e6, r.frameBytes / 1e6, beyond / double(r.listed), r.bindGrowth / 1e6,
        (beyond - double(r.bindGrowth)) / double(r.listed));
  }
}

// --- memory room -------------------------------------------------------------------

// A child memory cgroup of this process's own, limited to `bytes`; empty when
// the machine offers none (then `why` says so).
std::string MakeMemoryCgroup(long bytes, std::string& why) {
  std::string v1, v2;
  std::ifstream in("/proc/self/cgroup");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("0::", 0) == 0) v2 = line.substr(3);
    const size_t a = line.find(':'), b = line.find(':', a + 1);
    if (a != std::string::npos && b != std::string::npos) {
      const std::string ctl = "," + line.substr(a + 1, b - a - 1) + ",";
      if (ctl.find(",memory,") != std::string::npos) v1 = line.substr(b + 1);
    }
  }
  const std::string name = "/netvane-room" + std::to_string(getpid());
  struct Try {
    std::string dir, limitFile;
  };
  std::vector<Try> tries;
  if (!v1.empty())
    tries.push_back({"/sys/fs/cgroup/memory" + (v1 == "/" ? "" : v1) + name, "memory.limit_in_bytes"});
  if (!v2.empty()) tries.push_back({"/sys/fs/cgroup" + (v2 == "/" ? "" : v2) + name, "memory.max"});
  for (const Try& t : tries) {
    if (mkdir(t.dir.c_str(), 0755) != 0) continue;
    std::ofstream limit(t.dir + "/" + t.limitFile);
    limit << bytes << "\n";
    if (limit.flush()) return t.dir;
    rmdir(t.dir.c_str());
  }
  why = "no memory cgroup could be made here";
  return "";
}

struct RoomRun {
  uint64_t sent = 0;
  std::string usage;  // what the cgroup says of its memory
  bool started = false, killed = false;
  int signal = 0;
  double seconds = 0;
  std::string report;  // the child's result line
};

// Starts this program again as the room's window, moves it into the cgroup
// before it builds the window, replays, and collects what it says.
RoomRun RunRoom(const netvane::lab::VethLab& lab, const std::string& cgroup, const std::string& pcap,
                const std::string& doneFile, bool budget) {
  RoomRun r;
  int toChild[2], fromChild[2];
  if (pipe(toChild) != 0 || pipe(fromChild) != 0) return r;
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_adddup2(&files, toChild[0], 0);
  posix_spawn_file_actions_adddup2(&files, fromChild[1], 1);
  posix_spawn_file_actions_addclose(&files, toChild[1]);
  posix_spawn_file_actions_addclose(&files, fromChild[0]);
  std::string self = "/proc/self/exe", mode = "--memory-room", ifname = lab.localIf(), done = doneFile,
              flag = budget ? "--budget" : "--no-budget";
  char* argv[] = {self.data(), mode.data(), ifname.data(), done.data(), flag.data(), nullptr};
  pid_t child = -1;
  const int spawned = posix_spawn(&child, self.c_str(), &files, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&files);
  close(toChild[0]);
  close(fromChild[1]);
  if (spawned != 0) return r;
  {
    std::ofstream procs(cgroup + "/cgroup.procs");
    procs << child << "\n";
  }
  FILE* in = fdopen(fromChild[0], "r");
  FILE* out = fdopen(toChild[1], "w");
  std::fputs("go\n", out);
  std::fflush(out);
  char line[512] = {};
  r.started = std::fgets(line, sizeof line, in) != nullptr && std::strncmp(line, "ready", 5) == 0;
  const auto start = Clock::now();
  int status = 0;
  bool ended = false;
  auto reap = [&] {
    if (!ended && waitpid(child, &status, WNOHANG) == child) {
      ended = true;
      r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    }
  };
  if (r.started) {
    Replay replay(lab, pcap, "--loop=100000 --duration=" + std::to_string(kRoomSeconds));
    while (!replay.done()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      reap();  // notes when the kernel ends the window, if it does
    }
    r.sent = replay.sent();
    std::ofstream(doneFile) << replay.sent() << "\n";
  }
  if (std::fgets(line, sizeof line, in) != nullptr) r.report = line;
  if (!ended) {
    waitpid(child, &status, 0);
    r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  }
  r.killed = WIFSIGNALED(status);
  // The peak of the cgroup's charge (window, helper, kernel buffers) and how
  // often it hit the limit.
  for (const char* file : {"memory.max_usage_in_bytes", "memory.peak", "memory.failcnt"}) {
    std::ifstream counter(cgroup + "/" + file);
    long long value = 0;
    if (counter >> value)
      r.usage += std::string(r.usage.empty() ? "" : ", ") + file + " " +
                 (std::string(file) == "memory.failcnt" ? std::to_string(value)
                                                        : std::to_string(value >> 20) + " MB");
  }
  // A cgroup's peak counts from its making: start the next run from zero.
  std::ofstream(cgroup + "/memory.max_usage_in_bytes") << "0\n";
  r.signal = r.killed ? WTERMSIG(status) : 0;
  std::fclose(in);
  std::fclose(out);
  std::remove(doneFile.c_str());
  return r;
}

// The child: the window in the room, told to go once it is inside.
int RoomChild(int argc, char** argv) {
  if (argc < 5) return 2;
  const std::string ifname = argv[2], doneFile = argv[3];
  const bool budget = std::string(argv[4]) == "--budget";
  char go[16] = {};
  if (std::fgets(go, sizeof go, stdin) == nullptr) return 2;  // now inside the cgroup
  netvane::TApplication app(argc, argv);
  LiveWindow w(ifname);
  if (!budget) w.list->SetBudget(SIZE_MAX);
  w.form->Start->click();
  RunLoopUntil([&] { return !w.monitor->isStarting(); }, std::chrono::seconds(5));
  if (!w.monitor->isBound()) return 1;
  RunLoopUntil([] { return false; }, std::chrono::milliseconds(300));
  std::printf("ready\n");
  std::fflush(stdout);

  benchprobe::Heartbeat heart;
  heart.Start();
  uint32_t seen = 0;
  auto lastGrowth = Clock::now();
  double boxAt = -1;
  RunLoopUntil(
      [&] {
        if (boxAt < 0)
          for (QWidget* top : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(top); box && box->isVisible())
              boxAt = heart.ElapsedS();
        const uint32_t listed = w.form->packetModel()->listed();
        if (listed != seen) seen = listed, lastGrowth = Clock::now();
        struct stat st {};
        return stat(doneFile.c_str(), &st) == 0 && Clock::now() - lastGrowth > std::chrono::seconds(1);
      },
      std::chrono::seconds(120));
  heart.Stop();
  unsigned received = 0, dropped = 0;
  if (!w.monitor->GetKernelStats(received, dropped)) dropped = UINT_MAX;
  int boxes = 0;
  for (QWidget* top : QApplication::topLevelWidgets())
    if (auto* box = qobject_cast<QMessageBox*>(top); box && box->isVisible()) ++boxes;
  // Every stored frame is still the one that arrived.
  uint64_t intact = 0;
  const uint32_t count = w.list->Count();
  w.list->ForEachFrame(1, count, [&](uint32_t, std::span<const uint8_t> frame) {
    const auto index = ReplayIndex(frame);
    if (!index) return true;
    const Bytes sent = ReplayFrame(*index, kRoomFrameBytes);
    if (std::equal(frame.begin(), frame.end(), sent.begin(), sent.end())) ++intact;
    return true;
  });
  std::printf(
      "errors reported %zu%s%s, taken %d (kernel drops %u), budget %zu MB, listed %u (%llu intact), full %d, "
      "boxes %d (first at %.2f "
      "s), "
      "longest stall %.1f ms "
      "(on the CPU %.1f ms, in user mode %.0f ms; slept %ld, preempted %ld times; ending at %.2f s), peak "
      "resident %ld MB\n",
      w.errors.size(), w.errors.empty() ? "" : ": ", w.errors.empty() ? "" : w.errors.front().c_str(),
      w.monitor->receivedCount(), dropped, w.list->Budget() >> 20, count, (unsigned long long)intact,
      int(w.list->Full()), boxes, boxAt, heart.LongestGapMs(), heart.LongestGapCpuMs(),
      heart.LongestGapUserMs(), heart.LongestGapWaits(), heart.LongestGapPreemptions(),
      heart.LongestGapEndS(), benchprobe::PeakResidentBytes() >> 20);
  std::fflush(stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  if (argc >= 2 && std::string(argv[1]) == "--memory-room") return RoomChild(argc, argv);

  // Before any thread exists, so that every thread of this process (the
  // capture worker included) sees only this program's own adapters.
  const std::string why = netvane::lab::EnterPrivateNetwork();
  if (!why.empty()) {
    std::printf("bench_window_live: skipped: %s\n", why.c_str());
    return 0;
  }
  for (const char* tool : {"tcpreplay", "tcpdump"})
    if (Sh(std::string("command -v ") + tool) != 0) {
      std::printf("bench_window_live: skipped: %s is missing\n", tool);
      return 0;
    }
  netvane::TApplication app(argc, argv);
  netvane::lab::VethLab lab;
  if (!lab.ok()) {
    std::printf("bench_window_live: skipped: could not make the veth pair\n");
    return 0;
  }
  QTemporaryDir dir;
  // The display filter applied is remembered: in the run's own settings, not the user's.
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path()));
  const std::string replay = dir.filePath("replay.pcap").toStdString();
  const std::string room = dir.filePath("room.pcap").toStdString();
  if (!WriteReplay(replay, kFrames, ReplayLength) ||
      !WriteReplay(room, kRoomFileFrames, [](uint32_t) { return size_t(kRoomFrameBytes); }))
    return 1;

  std::printf("bench_window_live: the main window with the libpcap driver, %u frames replayed at top speed\n",
              kFrames);
  const std::string tcpdumpErr = dir.filePath("tcpdump.err").toStdString();
  const WindowRun alone = RunWindow(lab, replay, "");
  PrintWindowRun("window", alone);
  const WindowRun both = RunWindow(lab, replay, tcpdumpErr);
  PrintWindowRun("window + tcpdump", both);
  const WindowRun filtered = RunWindow(lab, replay, "", QStringLiteral("udp"));
  PrintWindowRun("window, display filter \"udp\"", filtered);
  {
    Tcpdump tcpdump(lab.localIf(), tcpdumpErr);
    uint64_t sent = 0;
    {
      Replay r(lab, replay);
      while (!r.done()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      sent = r.sent();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    tcpdump.Stop();
    std::printf(
        "tcpdump -w /dev/null alone: %llu captured (%llu received by filter) of %llu sent, %llu dropped by "
        "the kernel\n",
        (unsigned long long)tcpdump.captured, (unsigned long long)tcpdump.received, (unsigned long long)sent,
        (unsigned long long)tcpdump.dropped);
  }

  std::string roomWhy;
  const std::string cgroup = MakeMemoryCgroup(kRoomBytes, roomWhy);
  if (cgroup.empty()) {
    std::printf("memory room: skipped: %s\n", roomWhy.c_str());
  } else {
    const std::string doneFile = dir.filePath("room.done").toStdString();
    for (bool budget : {true, false}) {
      const RoomRun r = RunRoom(lab, cgroup, room, doneFile, budget);
      std::printf("memory room of %ld MB, %llu frames of %u bytes in %d s at top speed, %s:\n  ",
                  kRoomBytes >> 20, (unsigned long long)r.sent, kRoomFrameBytes, kRoomSeconds,
                  budget ? "default budget" : "control, no budget");
      if (!r.usage.empty()) std::printf("cgroup: %s\n  ", r.usage.c_str());
      if (!r.started)
        std::printf("the window did not start\n");
      else if (r.killed)
        std::printf("the window was killed by signal %d after %.1f s\n", r.signal, r.seconds);
      else
        std::printf("survived: %s", r.report.empty() ? "(no report)\n" : r.report.c_str());
    }
    rmdir(cgroup.c_str());
  }
  return alone.ok && both.ok ? 0 : 1;
}
