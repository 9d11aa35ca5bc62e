// Live capture for netvane-dump through the capture component, set up with
// the main window's capture settings. Rows are printed by the worker as
// frames arrive (as the window's handler does); the main thread watches for
// the end and flushes the output now and then.
#include "dump/live_mode.h"

#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <iterator>
#include <memory>
#include <mutex>
#include <thread>

#include "capture/KelWinPcapNetMonitor.h"
#include "capture/capture_settings.h"
#include "capture/ssh_link.h"
#include "decode/packet_row.h"
#include "dump/row_printer.h"

namespace netvane {
namespace {

using namespace capture_settings;
constexpr auto kLoopTick = std::chrono::milliseconds(20);
constexpr auto kFlushEvery = std::chrono::milliseconds(200);

volatile std::sig_atomic_t gInterrupted = 0;

void OnInterrupt(int) {
  gInterrupted = 1;
}

// Ctrl-C, kill and a closed terminal end a capture as tcpdump ends one: every
// frame is written and the counts are printed. Their earlier handlers come
// back when the capture has ended.
class EndSignals {
 public:
  EndSignals() {
    gInterrupted = 0;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    for (std::size_t k = 0; k < kCount; ++k) sigaction(kSignals[k], &action, &previous_[k]);
  }
  ~EndSignals() {
    for (std::size_t k = 0; k < kCount; ++k) sigaction(kSignals[k], &previous_[k], nullptr);
  }
  EndSignals(const EndSignals&) = delete;
  EndSignals& operator=(const EndSignals&) = delete;

 private:
  static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
  static constexpr std::size_t kCount = std::size(kSignals);
  struct sigaction previous_[kCount] {};
};

// The component needs an application object for the hand-over of work to
// this thread; netvane-dump has none of its own.
std::unique_ptr<QCoreApplication> EnsureApplication() {
  if (QCoreApplication::instance()) return nullptr;
  static int argc = 1;
  static char name[] = "netvane-dump";
  static char* argv[] = {name, nullptr};
  return std::make_unique<QCoreApplication>(argc, argv);
}

// Set while this thread reports an error: the component's error report sends
// its line through the status channel.
thread_local bool tReportingError = false;

// The component with the window's capture settings, whose failures go to
// standard error and are counted; its ordinary status lines are left out.
class DumpMonitor : public TKelWinPcapNetMonitor {
 public:
  DumpMonitor() {
    ApplyProgramSettings(this);
    setShowErrMsgBox(false);
  }

  // Failures reported so far, by either thread.
  int failures() const { return FFailures.load(); }

  void User_Error() override {
    FFailures.fetch_add(1);
    tReportingError = true;
    TKelWinPcapNetMonitor::User_Error();
    tReportingError = false;
  }

  // Called on the reporting thread, worker or main; standard error takes
  // whole lines from both.
  void User_StatusMessage(const std::string& line) override {
    if (!tReportingError) return;
    static const std::string kPrefix = "TKelNetMonitor Error: ";
    const std::size_t skip = line.rfind(kPrefix, 0) == 0 ? kPrefix.size() : 0;
    std::fprintf(stderr, "netvane-dump: %s\n", line.c_str() + skip);
  }

 private:
  std::atomic<int> FFailures{0};
};

std::string JoinFilters(const std::vector<std::string>& filters) {
  std::string list;
  for (const std::string& f : filters) {
    if (f.empty()) continue;
    if (!list.empty()) list += ",";
    list += f;
  }
  return list;
}

// One capture of -i, from opening the component to the closing count line.
class LiveRun {
 public:
  explicit LiveRun(const LiveOptions& options)
      : options_(options),
        printer_(stdout, PrintOptions{options.noBroadcast, options.verbose, options.hex, options.time}) {}

  int Run() {
    monitor_.setOnNewPacket([this](TKelNetMonitor* sender) { TakeFrames(sender); });
    // Another host's adapter is named, not listed: its helper says whether it has it.
    if (IsRemoteName(options_.adapter)) monitor_.SetRemoteAdapters({options_.adapter});
    if (!monitor_.Open() || !SelectAdapter() || !OpenOutput()) return 1;
    // Both installed by the bind below, as one program.
    monitor_.set_FilterIP(JoinFilters(options_.filters));
    monitor_.SetCaptureExpression(options_.expression);
    if (!monitor_.StartCapture()) return 1;
    // Said as tcpdump says it; only Ethernet adapters are ever bound.
    std::fprintf(stderr, "listening on %s, link-type EN10MB (Ethernet), snapshot length %d bytes\n",
                 monitor_.adapterName(adapterIndex_).c_str(), kSnapshotLength);
    const EndSignals endSignals;
    monitor_.NotifyThreadStart(kPollPauseMs);
    CaptureUntilEnd();
    return Finish();
  }

 private:
  // A number names the adapter by its number in the -D list (from 1), unless
  // an adapter is really called that.
  bool SelectAdapter() {
    adapterIndex_ = monitor_.get_adapternum(options_.adapter);
    if (adapterIndex_ < 0 && options_.adapterNumber >= 1) adapterIndex_ = options_.adapterNumber - 1;
    if (adapterIndex_ >= 0 && monitor_.SelectAdapter(adapterIndex_)) return true;
    std::fprintf(stderr, "netvane-dump: no capture adapter %s (netvane-dump -D lists them, from 1)\n",
                 options_.adapter.c_str());
    return false;
  }

  // With -w, the first file is made once the adapter is known, before the
  // first frame: a target that cannot be written ends the run here.
  bool OpenOutput() {
    if (options_.writeFile.empty()) return true;
    writer_ = std::make_unique<RotatingPcapWriter>(options_.writeFile, kSnapshotLength, options_.rotation);
    if (writer_->Open()) return true;
    std::fprintf(stderr, "netvane-dump: %s\n", writer_->error().c_str());
    return false;
  }

  // The new-packet handler, on the worker thread.
  void TakeFrames(TKelNetMonitor* sender) {
    TKelNetPacket record;
    while (sender->get_packetcount() > 0 && sender->GetNextPacket(&record)) {
      std::lock_guard<std::mutex> lock(outputLock_);
      if (countReached_.load() || writeFailed_.load()) continue;  // taken off the queue, not shown
      if (Keep(record) && options_.count != 0 && ++kept_ >= options_.count) countReached_.store(true);
    }
  }

  // Prints or writes one frame; false when it is left out or could not be written.
  bool Keep(const TKelNetPacket& record) {
    const std::span<const uint8_t> frame(record.Data, record.Data ? record.Length : 0);
    if (options_.conversations != nullptr) {
      if (LeftOut(frame, options_.noBroadcast)) return false;
      options_.conversations->Add(++counted_, frame, record.WireLength,
                                  record.CaptureSeconds * 1000000 + record.CaptureMicroseconds);
      return true;
    }
    if (!writer_)
      return printer_.Print(
          frame, FrameStamp{true, record.CaptureSeconds, record.CaptureMicroseconds, record.WireLength});
    if (LeftOut(frame, options_.noBroadcast)) return false;
    if (writer_->Write(frame, record.CaptureSeconds, record.CaptureMicroseconds, record.WireLength))
      return true;
    writeFailed_.store(true);
    return false;
  }

  // Until Ctrl-C, SIGTERM or SIGHUP, the count, a write error or a failure reported
  // by the component.
  void CaptureUntilEnd() {
    auto lastFlush = std::chrono::steady_clock::now();
    while (!gInterrupted && !countReached_.load() && !writeFailed_.load() && monitor_.failures() == 0) {
      QCoreApplication::processEvents();
      std::this_thread::sleep_for(kLoopTick);
      if (std::chrono::steady_clock::now() - lastFlush >= kFlushEvery) {
        std::lock_guard<std::mutex> lock(outputLock_);
        printer_.Flush();
        if (writer_ && !writer_->Flush()) writeFailed_.store(true);
        lastFlush = std::chrono::steady_clock::now();
      }
    }
  }

  // Reads the kernel's counters, closes the component and the output and
  // prints the count line. Counters that cannot be read are a failure: a
  // made-up 0 would say that nothing was lost.
  int Finish() {
    unsigned kernelReceived = 0;
    unsigned kernelDropped = 0;
    const bool counted = monitor_.GetKernelStats(kernelReceived, kernelDropped);
    monitor_.Close();
    QCoreApplication::processEvents();
    // The worker has ended: the output is this thread's alone.
    bool written = printer_.Flush();
    if (writer_ && !writer_->Close()) {
      written = false;
      std::fprintf(stderr, "netvane-dump: %s\n", writer_->error().c_str());
    }
    if (counted)
      std::fprintf(stderr, "%d frames received, %u dropped by the kernel\n", monitor_.receivedCount(),
                   kernelDropped);
    else
      std::fprintf(stderr, "%d frames received, kernel counters unavailable\n", monitor_.receivedCount());
    return written && counted && monitor_.failures() == 0 ? 0 : 1;
  }

  const LiveOptions& options_;
  int adapterIndex_ = -1;  // in the component's list
  std::unique_ptr<QCoreApplication> app_ = EnsureApplication();
  std::mutex outputLock_;  // the worker's writes against this thread's flushes
  RowPrinter printer_;
  std::unique_ptr<RotatingPcapWriter> writer_;  // with -w
  uint64_t kept_ = 0;
  uint32_t counted_ = 0;  // frames counted into the conversations table
  std::atomic<bool> countReached_{false};
  std::atomic<bool> writeFailed_{false};
  // Last, so that it goes first: its worker may be writing to the output.
  DumpMonitor monitor_;
};

}  // namespace

int RunListAdapters() {
  auto app = EnsureApplication();
  DumpMonitor monitor;
  if (!monitor.Open()) return 1;
  for (int i = 0; i < monitor.adapterCount(); ++i)
    std::printf("%d\t%s\n", i + 1, monitor.adapterName(i).c_str());
  monitor.Close();
  return std::fflush(stdout) == 0 ? 0 : 1;
}

int RunListRemoteAdapters(const RemoteTarget& host) {
  std::vector<std::string> names;
  std::string error;
  if (!ListRemoteAdapters(host, names, error)) {
    std::fprintf(stderr, "netvane-dump: %s\n", error.c_str());
    return 1;
  }
  RemoteTarget adapter = host;
  for (size_t i = 0; i < names.size(); ++i) {
    adapter.adapter = names[i];
    std::printf("%zu\t%s\n", i + 1, adapter.AdapterName().c_str());
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}

int RunLiveCapture(const LiveOptions& options) {
  LiveRun run(options);
  return run.Run();
}

}  // namespace netvane
