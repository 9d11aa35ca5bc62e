// Opening a big capture in the main window (offscreen), against netvane-dump
// reading the same file, then moving about in it and saving it again.
//
// The capture: 2,000,000 frames of mixed traffic that carries mostly full TCP
// segments (about 1.6 GB), written by this program into TMPDIR
// (NETVANE_BENCH_FRAMES sets another count; NETVANE_BENCH_FILE names a capture
// to use instead, kept afterwards). Reports, with NETVANE_BENCH_RUNS runs of
// the open (default 3):
//  - wall time of `netvane-dump FILE >/dev/null`, best of three;
//  - the index: the heap a frame list grows by when it indexes the file, per frame;
//  - the window's open: time to the first rows listed, time to the whole
//    file indexed and listed, with the event loop running as in the program;
//    the UI thread's longest stall; the peak resident memory of the process
//    and what of it is not file pages;
//  - selecting random rows, scrolling to each and painting: time per step;
//  - a walk over every frame's bytes, as a search makes it (file bytes per second);
//  - saving the listed frames as a capture, and whether the saved file holds
//    the same records, byte for byte, after its file header.
// Goals: first rows within 0.2 s; the whole index in no more than
// netvane-dump's time; at most 100 MB resident beyond file pages; every step
// under 50 ms.
//
// A plain program rather than a Google Benchmark; arguments are ignored.
#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTableView>
#include <QTemporaryDir>

#include <fcntl.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "app/Form1.h"
#include "app/exception_report.h"
#include "app/file_job.h"
#include "app/packet_list_model.h"
#include "bench/app/idle_window.h"
#include "bench/app/window_probe.h"
#include "bench/decode/mixed_traffic.h"
#include "capture/KelNetMonitor.h"
#include "pcapfile/frame_list.h"

extern char** environ;

namespace {

using benchwindow::IdleMonitor;
using benchwindow::Pump;

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

// A line of /proc/self/status in bytes ("RssAnon:"); 0 when missing.
// Bytes of the heap in use, the blocks malloc maps on their own included.
std::size_t HeapBytes() {
  const struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
}

// The index of the capture: the heap a frame list grows by when it indexes
// the whole file, per frame.
double IndexBytesPerFrame(const std::string& file) {
  netvane::FrameList list;
  const std::size_t before = HeapBytes();
  std::string error;
  if (!list.OpenCapture(file, error)) return 0;
  while (list.IndexSome(std::chrono::steady_clock::time_point::max()) == netvane::FrameList::Indexing::More) {
  }
  return list.Count() > 0 ? (double(HeapBytes()) - double(before)) / list.Count() : 0;
}

long StatusBytes(const char* key) {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind(key, 0) == 0) return std::stol(line.substr(std::strlen(key))) * 1024;
  return 0;
}

// True when the two files hold the same bytes from `from` on.
bool SameAfter(const QString& a, const QString& b, long from) {
  std::FILE* fa = std::fopen(a.toLocal8Bit().constData(), "rb");
  std::FILE* fb = std::fopen(b.toLocal8Bit().constData(), "rb");
  bool same = fa != nullptr && fb != nullptr && std::fseek(fa, from, SEEK_SET) == 0 &&
              std::fseek(fb, from, SEEK_SET) == 0;
  std::vector<char> ba(1 << 20), bb(1 << 20);
  while (same) {
    const std::size_t na = std::fread(ba.data(), 1, ba.size(), fa);
    const std::size_t nb = std::fread(bb.data(), 1, bb.size(), fb);
    same = na == nb && std::equal(ba.begin(), ba.begin() + long(na), bb.begin());
    if (na == 0) break;
  }
  if (fa != nullptr) std::fclose(fa);
  if (fb != nullptr) std::fclose(fb);
  return same;
}

struct OpenRun {
  double firstRows = 0, seconds = 0, stallMs = 0, stallCpuMs = 0, uiCpuSeconds = 0;
  uint32_t listed = 0;
  double peakMb = 0, anonMb = 0;
  double stepMedianMs = 0, stepMaxMs = 0, stepMaxCpuMs = 0;
  double walkGBps = 0;  // a walk over every frame, as a search makes it
  double saveSeconds = 0;
  bool saved = false, sameAgain = false;
};

// Runs the event loop until `done` holds (or five minutes pass).
OpenRun RunOpen(const QString& file, const QString& savedAs) {
  OpenRun r;
  auto list = std::make_unique<netvane::FrameList>();
  auto form = std::make_unique<TForm1>(*list, nullptr, [](QObject* owner) { return new IdleMonitor(owner); });
  form->show();
  QCoreApplication::processEvents();
  benchprobe::ResetPeakResident();
  const double cpuBefore = benchprobe::ThreadCpuSeconds();

  benchprobe::Heartbeat heart;
  heart.Start();
  QElapsedTimer clock;
  clock.start();
  if (!form->OpenCaptureFile(file)) return r;
  Pump([&] { return form->packetModel()->listed() > 0 || form->fileJob() == nullptr; });
  r.firstRows = double(clock.nsecsElapsed()) / 1e9;
  Pump([&] { return form->fileJob() == nullptr; });
  r.seconds = double(clock.nsecsElapsed()) / 1e9;
  heart.Stop();
  r.stallMs = heart.LongestGapMs();
  r.stallCpuMs = heart.LongestGapCpuMs();
  r.uiCpuSeconds = benchprobe::ThreadCpuSeconds() - cpuBefore;
  r.listed = form->packetModel()->listed();

  // Every frame's bytes, front to back, as a search reads them.
  QElapsedTimer walk;
  walk.start();
  uint64_t walked = 0;
  list->ForEachFrame(1, list->Count(), [&](uint32_t, std::span<const uint8_t> bytes) {
    walked += bytes.size();
    return true;
  });
  r.walkGBps = double(QFileInfo(file).size()) / double(walk.nsecsElapsed());

  // Random rows: select (dumps and tree), scroll there, paint.
  std::vector<std::pair<double, double>> steps;  // wall and UI-thread CPU milliseconds
  uint32_t seed = 12345;
  for (int i = 0; i < 200 && r.listed > 0; ++i) {
    seed = seed * 1664525u + 1013904223u;
    const int row = int((seed >> 8) % r.listed);
    QElapsedTimer step;
    step.start();
    const double cpu = benchprobe::ThreadCpuSeconds();
    const QModelIndex at = form->packetModel()->index(row, 1);
    form->Packets->setCurrentIndex(at);
    form->Packets->scrollTo(at);
    form->repaint();
    steps.emplace_back(double(step.nsecsElapsed()) / 1e6, (benchprobe::ThreadCpuSeconds() - cpu) * 1e3);
  }
  if (!steps.empty()) {
    std::sort(steps.begin(), steps.end());
    r.stepMedianMs = steps[steps.size() / 2].first;
    r.stepMaxMs = steps.back().first;
    r.stepMaxCpuMs = steps.back().second;
  }
  r.peakMb = double(benchprobe::PeakResidentBytes()) / 1048576.0;
  r.anonMb = double(StatusBytes("RssAnon:")) / 1048576.0;

  if (!savedAs.isEmpty()) {
    clock.restart();
    if (form->SaveCaptureFile(savedAs)) {
      Pump([&] { return form->fileJob() == nullptr; });
      r.saveSeconds = double(clock.nsecsElapsed()) / 1e9;
      r.saved = QFileInfo::exists(savedAs);
    }
    // Record for record: everything after the 24-byte file header.
    r.sameAgain =
        r.saved && QFileInfo(savedAs).size() == QFileInfo(file).size() && SameAfter(file, savedAs, 24);
    QFile::remove(savedAs);
  }
  form->close();
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  netvane::TApplication app(argc, argv);
  const long frames = netvane::bench::MixedCaptureFrames();
  const int runs = qEnvironmentVariableIsSet("NETVANE_BENCH_RUNS")
                       ? std::max(1, std::atoi(qgetenv("NETVANE_BENCH_RUNS").constData()))
                       : 3;
  // netvane-dump of the same build tree.
  const std::string self = QCoreApplication::applicationDirPath().toStdString();
  const std::string dump = self + "/../../dump/netvane-dump";
  if (access(dump.c_str(), X_OK) != 0) {
    std::printf("bench_open_capture: skipped: no netvane-dump at %s\n", dump.c_str());
    return 0;
  }
  QTemporaryDir dir;
  QString file = qEnvironmentVariable("NETVANE_BENCH_FILE");
  if (file.isEmpty() || !QFileInfo::exists(file)) {
    if (file.isEmpty()) file = dir.filePath("mixed.pcap");
    if (!netvane::bench::WriteMixedCapture(file.toStdString(), frames, true)) return 1;
  }
  std::printf("bench_open_capture: %s, %.0f MiB\n", file.toLocal8Bit().constData(),
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
  std::printf("  netvane-dump FILE >/dev/null: %.2f s (best of 3)\n", dumpBest);
  std::printf("  index: %.2f bytes per frame (the heap a frame list grows by, the whole file indexed)\n",
              IndexBytesPerFrame(file.toStdString()));
  bool ok = true;
  for (int i = 0; i < runs; ++i) {
    const OpenRun r = RunOpen(file, i == 0 ? dir.filePath("saved.pcap") : QString());
    ok = ok && r.listed > 0 && (i > 0 || (r.saved && r.sameAgain));
    std::printf(
        "  run %d: first rows %.3f s; all %u listed in %.2f s (%.2f x netvane-dump; UI thread CPU %.2f s); "
        "longest UI stall %.1f ms (%.1f on the CPU)\n",
        i + 1, r.firstRows, r.listed, r.seconds, r.seconds / dumpBest, r.uiCpuSeconds, r.stallMs,
        r.stallCpuMs);
    std::printf(
        "         peak resident %.1f MB, not file pages %.1f MB at the end; "
        "select+scroll+paint a random row: median %.1f ms, worst %.1f ms of 200 (%.1f on the CPU); every "
        "frame "
        "walked at %.2f GB/s\n",
        r.peakMb, r.anonMb, r.stepMedianMs, r.stepMaxMs, r.stepMaxCpuMs, r.walkGBps);
    if (i == 0)
      std::printf("         saved as a capture in %.2f s%s; %s\n", r.saveSeconds, r.saved ? "" : " (FAILED)",
                  r.sameAgain ? "the same records, byte for byte" : "DIFFERENT RECORDS");
  }
  return ok ? 0 : 1;
}
