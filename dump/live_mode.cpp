// Live capture for netvane-dump through the capture component, set up with
// the main window's capture settings. Rows are printed by the worker as
// frames arrive (as the window's handler does); the main thread serves the
// component's status lines and watches for the end.
#include "dump/live_mode.h"

#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

#include "capture/KelWinPcapNetMonitor.h"
#include "capture/capture_settings.h"
#include "decode/packet_row.h"
#include "dump/row_printer.h"
#include "pcapfile/pcap_writer.h"

namespace netvane {
namespace {

using namespace capture_settings;
constexpr auto kLoopTick = std::chrono::milliseconds(20);
constexpr auto kFlushEvery = std::chrono::milliseconds(200);

volatile std::sig_atomic_t gInterrupted = 0;

void OnInterrupt(int) {
  gInterrupted = 1;
}

const std::string kErrorPrefix = "TKelNetMonitor Error: ";

// The component needs an application object for the hand-over of its status
// lines to this thread; netvane-dump has none of its own.
std::unique_ptr<QCoreApplication> EnsureApplication() {
  if (QCoreApplication::instance()) return nullptr;
  static int argc = 1;
  static char name[] = "netvane-dump";
  static char* argv[] = {name, nullptr};
  return std::make_unique<QCoreApplication>(argc, argv);
}

// Errors go to standard error; ordinary status lines are left out.
void RouteErrors(TKelWinPcapNetMonitor& monitor, std::atomic<bool>* adapterFailed) {
  monitor.setShowErrMsgBox(false);
  monitor.setOnStatusMessage([adapterFailed](TKelNetMonitor*, const std::string& line) {
    if (line.rfind(kErrorPrefix, 0) != 0) return;
    std::fprintf(stderr, "netvane-dump: %s\n", line.c_str() + kErrorPrefix.size());
    if (adapterFailed && line.find("WinPcap driver complained: ") != std::string::npos)
      adapterFailed->store(true);
  });
}

void ApplyWindowSettings(TKelWinPcapNetMonitor& monitor) {
  monitor.MaxPacketsPerCall = kMaxPacketsPerCall;
  monitor.TimeOut = kReadTimeOutMs;
  monitor.MaxPacketSize = kSnapshotLength;
}

bool AllDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

std::string JoinFilters(const std::vector<std::string>& filters) {
  std::string list;
  for (const std::string& f : filters) {
    if (f.empty()) continue;
    if (!list.empty()) list += ",";
    list += f;
  }
  return list;
}

}  // namespace

int RunListAdapters() {
  auto app = EnsureApplication();
  TKelWinPcapNetMonitor monitor;
  ApplyWindowSettings(monitor);
  RouteErrors(monitor, nullptr);
  if (!monitor.Open()) return 1;
  for (int i = 0; i < monitor.adapterCount(); ++i) std::printf("%d\t%s\n", i, monitor.adapterName(i).c_str());
  monitor.Close();
  return std::fflush(stdout) == 0 ? 0 : 1;
}

int RunLiveCapture(const LiveOptions& options) {
  auto app = EnsureApplication();
  std::atomic<bool> adapterFailed{false};
  std::atomic<bool> countReached{false};
  std::atomic<bool> writeFailed{false};
  std::mutex printLock;
  RowPrinter printer(stdout, PrintOptions{options.noBroadcast, options.verbose, options.hex});
  std::unique_ptr<PcapWriter> writer;  // with -w
  uint64_t printed = 0;

  TKelWinPcapNetMonitor monitor;
  ApplyWindowSettings(monitor);
  RouteErrors(monitor, &adapterFailed);
  monitor.setOnNewPacket([&](TKelNetMonitor* sender) {
    TKelNetPacket record;
    while (sender->get_packetcount() > 0 && sender->GetNextPacket(&record)) {
      std::lock_guard<std::mutex> lock(printLock);
      if (countReached.load() || writeFailed.load()) continue;  // taken off the queue, not shown
      const std::span<const uint8_t> frame(record.Data, record.Data ? record.Length : 0);
      if (writer) {
        if (options.noBroadcast && IsBroadcast(frame)) continue;
        if (!writer->Write(frame, record.CaptureSeconds, record.CaptureMicroseconds, record.WireLength)) {
          writeFailed.store(true);
          continue;
        }
      } else if (!printer.Print(frame)) {
        continue;
      }
      if (options.count != 0 && ++printed >= options.count) countReached.store(true);
    }
  });

  if (!monitor.Open()) return 1;
  // A number names the adapter by its place in the -D list, unless an adapter
  // is really called that.
  const bool selected = (AllDigits(options.adapter) && monitor.get_adapternum(options.adapter) < 0)
                            ? monitor.SelectAdapter(std::stoi(options.adapter))
                            : monitor.SelectAdapter(options.adapter);
  if (!selected) {
    std::fprintf(stderr, "netvane-dump: no capture adapter %s (netvane-dump -D lists them)\n",
                 options.adapter.c_str());
    return 1;
  }
  if (!options.writeFile.empty()) {
    // Opened once the adapter is known, before the first frame: a target that
    // cannot be written ends the run here.
    writer = std::make_unique<PcapWriter>();
    if (!writer->Open(options.writeFile, kSnapshotLength)) {
      std::fprintf(stderr, "netvane-dump: %s\n", writer->error().c_str());
      return 1;
    }
  }
  monitor.set_FilterIP(JoinFilters(options.filters));  // installed by the bind below
  if (!monitor.StartCapture()) return 1;

  gInterrupted = 0;
  auto previousInt = std::signal(SIGINT, OnInterrupt);
  auto previousTerm = std::signal(SIGTERM, OnInterrupt);
  monitor.NotifyThreadStart(kPollPauseMs);

  auto lastFlush = std::chrono::steady_clock::now();
  while (!gInterrupted && !countReached.load() && !adapterFailed.load() && !writeFailed.load()) {
    QCoreApplication::processEvents();
    std::this_thread::sleep_for(kLoopTick);
    if (std::chrono::steady_clock::now() - lastFlush >= kFlushEvery) {
      std::lock_guard<std::mutex> lock(printLock);
      printer.Flush();
      if (writer && !writer->Flush()) writeFailed.store(true);
      lastFlush = std::chrono::steady_clock::now();
    }
  }

  unsigned kernelReceived = 0;
  unsigned kernelDropped = 0;
  monitor.GetKernelStats(kernelReceived, kernelDropped);
  monitor.Close();
  QCoreApplication::processEvents();  // the last error lines, if any
  std::signal(SIGINT, previousInt);
  std::signal(SIGTERM, previousTerm);
  bool written;
  {
    std::lock_guard<std::mutex> lock(printLock);
    written = printer.Flush();
  }
  // The worker has ended: the writer is this thread's alone.
  if (writer && !writer->Close()) {
    written = false;
    std::fprintf(stderr, "netvane-dump: %s; %s keeps the first %llu frames\n", writer->error().c_str(),
                 options.writeFile.c_str(), static_cast<unsigned long long>(writer->framesInFile()));
  }
  std::fprintf(stderr, "%d frames received, %u dropped by the kernel\n", monitor.receivedCount(),
               kernelDropped);
  if (!written) return 1;
  return adapterFailed.load() ? 1 : 0;
}

}  // namespace netvane
