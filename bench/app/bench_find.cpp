// Find over a big capture opened in the main window (offscreen), through the
// window's own search: from the Find call to the search's end, with the event
// loop running as in the program.
//
// The capture: 2,000,000 frames of the mixed traffic of bench/decode
// (NETVANE_BENCH_FRAMES sets another count), written by this program and
// opened as "Open capture..." opens it. Each search looks for something no
// frame holds, so it walks every frame: a hex byte string, a text ignoring
// case and an address. Reports, best of three each: the frames' bytes per
// second; the UI thread's longest stall meanwhile; and how long ending a
// search half-way (as a Clear or a close does) keeps the UI thread waiting.
// Goal: >= 1 GB/s on a warm file.
//
// A plain program rather than a Google Benchmark; arguments are ignored.
#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <memory>
#include <string>

#include "app/Form1.h"
#include "app/exception_report.h"
#include "app/file_job.h"
#include "app/find_job.h"
#include "app/packet_finder.h"
#include "bench/app/window_probe.h"
#include "bench/decode/mixed_traffic.h"
#include "decode/frame_match.h"
#include "pcapfile/frame_list.h"
#include "tests/app/fake_monitor.h"
#include "tests/views/message_box_answerer.h"

namespace {

template <typename Done>
bool Pump(Done done) {
  QElapsedTimer limit;
  limit.start();
  while (!done() && limit.elapsed() < 300000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  return done();
}

struct Search {
  const char* what;
  netvane::FindKind kind;
  const char* input;
  bool ignoreCase;
};

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  netvane::TApplication app(argc, argv);
  const long frames = netvane::bench::MixedCaptureFrames();
  QTemporaryDir dir;
  const QString file = dir.filePath("mixed.pcap");
  if (!netvane::bench::WriteMixedCapture(file.toStdString(), frames)) return 1;

  auto list = std::make_unique<netvane::FrameList>();
  auto form = std::make_unique<TForm1>(*list, nullptr, [](QObject* owner) {
    auto* m = new FakeMonitor(owner, {"idle0"});
    m->setShowErrMsgBox(false);
    return m;
  });
  form->show();
  if (!form->OpenCaptureFile(file) || !Pump([&] { return form->fileJob() == nullptr; }) ||
      list->Count() != uint32_t(frames)) {
    std::printf("bench_find: FAILED to open the capture (%u of %ld frames)\n", list->Count(), frames);
    return 1;
  }
  uint64_t bytes = 0;
  list->ForEachFrame(1, list->Count(), [&](uint32_t, std::span<const uint8_t> b) {
    bytes += b.size();
    return true;
  });
  std::printf("bench_find: %ld frames of mixed traffic, %.0f MiB in the file, %.0f MiB of frame bytes\n",
              frames, double(QFileInfo(file).size()) / 1048576.0, double(bytes) / 1048576.0);

  auto* finder = form->findChild<TPacketFinder*>();
  // Says "Found no frame with ..." after each search, as it should.
  viewtest::MessageBoxAnswerer answerer({});
  const Search searches[] = {
      {"hex bytes", netvane::FindKind::HexBytes, "DE AD BE EF 01 02", false},
      {"text, ignoring case", netvane::FindKind::Text, "Netvane-absent", true},
      {"address", netvane::FindKind::Address, "203.0.113.77", false},
  };
  bool ok = true;
  for (const Search& s : searches) {
    std::string why;
    const auto matcher = netvane::FrameMatcher::Make(s.kind, s.input, s.ignoreCase, why);
    if (!matcher) return 1;
    double best = std::numeric_limits<double>::max(), worstStall = 0;
    uint32_t found = 0;  // what the last search found (0: nothing)
    for (int i = 0; i < 3; ++i) {
      benchprobe::Heartbeat heart;
      heart.Start();
      QElapsedTimer clock;
      clock.start();
      double seconds = -1;
      // Nothing is selected: the search walks frame 1 to the last, without wrapping.
      if (!finder->Find(*matcher, true)) return 1;
      QObject::connect(finder->job(), &TFindJob::finished, [&](uint32_t at) {
        seconds = double(clock.nsecsElapsed()) / 1e9;
        found = at;
      });
      if (!Pump([&] { return finder->job() == nullptr; })) return 1;
      best = std::min(best, seconds);
      heart.Stop();
      worstStall = std::max(worstStall, heart.LongestGapMs());
      ok = ok && found == 0;
    }
    std::printf(
        "  %-20s %.2f s for the whole capture: %.2f GB/s (best of 3; goal >= 1); longest UI stall %.1f "
        "ms%s\n",
        s.what, best, double(bytes) / best / 1e9, worstStall,
        found == 0 ? "" : " (FOUND, so not a whole walk)");
  }

  // Ending a search half-way, as a Clear or a close does.
  double worstEnd = 0;
  for (int i = 0; i < 3; ++i) {
    std::string why;
    const auto matcher = netvane::FrameMatcher::Make(netvane::FindKind::HexBytes, "DE AD BE EF", false, why);
    finder->Find(*matcher, true);
    Pump([&] { return finder->job() != nullptr && finder->job()->visited() > uint64_t(frames) / 3; });
    QElapsedTimer clock;
    clock.start();
    finder->End();
    worstEnd = std::max(worstEnd, double(clock.nsecsElapsed()) / 1e6);
  }
  std::printf("  ending a search half-way:  %.2f ms at most (3 runs)\n", worstEnd);
  form->close();
  return ok ? 0 : 1;
}
