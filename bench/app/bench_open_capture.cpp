// Opening a big capture in the main window (offscreen), against netvane-dump
// reading the same file, then saving it again.
//
// The capture: 1,000,000 frames of mixed traffic (NETVANE_BENCH_FRAMES sets
// another count), written by this program. Reports, best of three runs each:
//  - wall time of `netvane-dump FILE >/dev/null`;
//  - wall time of the window's open, from the call to the last row listed,
//    with the event loop running as in the program; the UI thread's longest
//    stall meanwhile; resident memory per listed frame beyond its bytes;
//  - wall time of saving the listed frames as a capture, and whether the saved
//    file lists the same frames again.
// Goal: the open takes at most twice netvane-dump's time.
//
// A plain program rather than a Google Benchmark; arguments are ignored.
#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string>

#include "app/Form1.h"
#include "app/exception_report.h"
#include "app/file_job.h"
#include "app/packet_list_model.h"
#include "bench/app/window_probe.h"
#include "bench/decode/mixed_traffic.h"
#include "capture/KelNetMonitor.h"
#include "pcapfile/frame_list.h"

extern char** environ;

namespace {

// A component with one adapter and nothing to capture: the window's start-up
// needs one, the open does not use it.
class IdleMonitor : public TKelNetMonitor {
 public:
  explicit IdleMonitor(QObject* owner) : TKelNetMonitor(owner) { setShowErrMsgBox(false); }
  ~IdleMonitor() override { DeInitialize(); }

 protected:
  bool Driver_Open() override { return true; }
  bool Driver_Close() override { return true; }
  void Driver_RetrieveAdapterList() override { AddAdapter("idle0", "idle0"); }
};

// Wall seconds of `netvane-dump FILE >/dev/null`; negative when it failed.
double DumpSeconds(const std::string& dump, const std::string& file) {
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
  std::string a0 = dump, a1 = file;
  char* argv[] = {a0.data(), a1.data(), nullptr};
  QElapsedTimer clock;
  clock.start();
  pid_t pid = -1;
  if (posix_spawn(&pid, dump.c_str(), &files, nullptr, argv, environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&files);
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return double(clock.nsecsElapsed()) / 1e9;
}

struct OpenRun {
  double seconds = 0, stallMs = 0, stallCpuMs = 0, uiCpuSeconds = 0;
  long stallWaits = 0, stallPreemptions = 0;
  uint32_t listed = 0;
  double bytesPerFrame = 0;
  double saveSeconds = 0;
  bool saved = false, sameAgain = false;
};

// Runs the event loop until `done` holds (or two minutes pass).
template <typename Done>
void Pump(Done done) {
  QElapsedTimer limit;
  limit.start();
  while (!done() && limit.elapsed() < 120000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

OpenRun RunOpen(const QString& file, const QString& savedAs) {
  OpenRun r;
  auto list = std::make_unique<netvane::FrameList>();
  auto form = std::make_unique<TForm1>(*list, nullptr, [](QObject* owner) { return new IdleMonitor(owner); });
  form->show();
  QCoreApplication::processEvents();
  benchprobe::ResetPeakResident();
  const long before = benchprobe::ResidentBytes();
  const double cpuBefore = benchprobe::ThreadCpuSeconds();

  benchprobe::Heartbeat heart;
  heart.Start();
  QElapsedTimer clock;
  clock.start();
  if (!form->OpenCaptureFile(file)) return r;
  Pump([&] { return form->fileJob() == nullptr; });
  r.seconds = double(clock.nsecsElapsed()) / 1e9;
  heart.Stop();
  r.stallMs = heart.LongestGapMs();
  r.stallCpuMs = heart.LongestGapCpuMs();
  r.stallWaits = heart.LongestGapWaits();
  r.stallPreemptions = heart.LongestGapPreemptions();
  r.uiCpuSeconds = benchprobe::ThreadCpuSeconds() - cpuBefore;
  r.listed = form->packetModel()->listed();
  uint64_t frameBytes = 0;
  for (uint32_t n = 1; n <= list->Count(); ++n) frameBytes += list->Frame(n).size();
  if (r.listed > 0)
    r.bytesPerFrame = (double(benchprobe::PeakResidentBytes() - before) - double(frameBytes)) / r.listed;

  if (!savedAs.isEmpty()) {
    clock.restart();
    if (form->SaveCaptureFile(savedAs)) {
      Pump([&] { return form->fileJob() == nullptr; });
      r.saveSeconds = double(clock.nsecsElapsed()) / 1e9;
      r.saved = QFileInfo::exists(savedAs);
    }
    // The saved file opens as the same frames, stamps and wire lengths.
    auto again = std::make_unique<netvane::FrameList>();
    auto second =
        std::make_unique<TForm1>(*again, nullptr, [](QObject* owner) { return new IdleMonitor(owner); });
    if (r.saved && second->OpenCaptureFile(savedAs)) {
      Pump([&] { return second->fileJob() == nullptr; });
      r.sameAgain = again->Count() == list->Count();
      for (uint32_t n = 1; r.sameAgain && n <= list->Count(); ++n) {
        const auto a = list->Frame(n), b = again->Frame(n);
        const netvane::CaptureStamp sa = list->Stamp(n), sb = again->Stamp(n);
        r.sameAgain = std::equal(a.begin(), a.end(), b.begin(), b.end()) && sa.seconds == sb.seconds &&
                      sa.microseconds == sb.microseconds && sa.wireLength == sb.wireLength;
      }
    }
    second->close();
  }
  form->close();
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  netvane::TApplication app(argc, argv);
  const long frames = qEnvironmentVariableIsSet("NETVANE_BENCH_FRAMES")
                          ? std::max(1L, std::atol(qgetenv("NETVANE_BENCH_FRAMES").constData()))
                          : 1000000L;
  // netvane-dump of the same build tree.
  const std::string self = QCoreApplication::applicationDirPath().toStdString();
  const std::string dump = self + "/../../dump/netvane-dump";
  if (access(dump.c_str(), X_OK) != 0) {
    std::printf("bench_open_capture: skipped: no netvane-dump at %s\n", dump.c_str());
    return 0;
  }
  QTemporaryDir dir;
  const QString file = dir.filePath("mixed.pcap");
  if (!netvane::bench::WriteMixedCapture(file.toStdString(), frames)) return 1;
  std::printf("bench_open_capture: %ld frames of mixed traffic, %.0f MiB\n", frames,
              double(QFileInfo(file).size()) / 1048576.0);

  double dumpBest = std::numeric_limits<double>::max();
  for (int i = 0; i < 3; ++i) {
    const double s = DumpSeconds(dump, file.toStdString());
    if (s < 0) {
      std::printf("netvane-dump FAILED on the capture\n");
      return 1;
    }
    dumpBest = std::min(dumpBest, s);
  }
  OpenRun best;
  best.seconds = std::numeric_limits<double>::max();
  OpenRun worst;
  bool allListed = true;
  for (int i = 0; i < 3; ++i) {
    const OpenRun r = RunOpen(file, i == 0 ? dir.filePath("saved.pcap") : QString());
    // Later runs reuse the memory the first one freed: only the first one's growth counts.
    if (i == 0) {
      best.saveSeconds = r.saveSeconds, best.saved = r.saved, best.sameAgain = r.sameAgain;
      best.bytesPerFrame = r.bytesPerFrame;
    }
    allListed = allListed && r.listed == uint32_t(frames);
    if (r.stallMs > worst.stallMs) worst = r;
    if (r.seconds < best.seconds) {
      best.seconds = r.seconds, best.uiCpuSeconds = r.uiCpuSeconds;
      best.listed = r.listed;
    }
  }
  const double ratio = best.seconds / dumpBest;
  std::printf("  netvane-dump FILE >/dev/null:  %.2f s (best of 3)\n", dumpBest);
  std::printf(
      "  open in the window:            %.2f s (best of 3; UI thread CPU %.2f s), %u frames listed%s\n",
      best.seconds, best.uiCpuSeconds, best.listed, allListed ? "" : ", NOT ALL LISTED");
  std::printf("  open / netvane-dump:           %.2f (goal <= 2: %s)\n", ratio,
              ratio <= 2 ? "met" : "MISSED");
  std::printf(
      "  longest UI stall while opening: %.1f ms (worst of 3: on the CPU %.1f ms, slept %ld times, preempted "
      "%ld "
      "times; goal <= 50)\n",
      worst.stallMs, worst.stallCpuMs, worst.stallWaits, worst.stallPreemptions);
  std::printf("  resident growth beyond the frames' bytes: %.1f bytes per frame (first run; goal <= 64)\n",
              best.bytesPerFrame);
  std::printf("  save as a capture:             %.2f s%s; reopened: %s\n", best.saveSeconds,
              best.saved ? "" : " (FAILED)",
              best.sameAgain ? "the same frames, stamps and wire lengths" : "DIFFERENT");
  return allListed && best.saved && best.sameAgain ? 0 : 1;
}
