// The main window, offscreen, fed 1,000,000 frames through the capture
// component by a driver that replays a capture file this program writes.
//
// Reports:
//  - frames per second taken into the list (Start to the last row listed),
//    with the replay running as fast as the window takes the frames;
//  - the longest gap of a 5 ms UI heartbeat while frames arrive at 50,000/s;
//  - resident memory per stored frame (the frames' bytes are in the spool);
//  - the cost of scrolling to the end and selecting a row with a million rows.
// Goals: >= 200,000 frames/s, no stall over 50 ms, <= 8 bytes per frame beyond a fixed part.
//
// A plain program rather than a Google Benchmark: each figure comes from one
// long run of the real window and event loop, not from a repeated kernel.
// Arguments are ignored (the benchmark runner passes its own flags).
#include <QApplication>
#include <QElapsedTimer>
#include <QItemSelectionModel>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QToolButton>

#include <pcap/pcap.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <memory>
#include <vector>

#include "app/Form1.h"
#include "app/exception_report.h"
#include "app/packet_list_model.h"
#include "bench/app/window_probe.h"
#include "capture/KelNetMonitor.h"
#include "pcapfile/frame_list.h"

namespace {

constexpr uint32_t kFrames = 1'000'000;
constexpr int kTemplates = 4096;

using Bytes = std::vector<uint8_t>;

// A mix of ARP, IP/TCP and IP/UDP frames of 60 to 190 bytes.
std::vector<Bytes> MakeTemplates() {
  std::vector<Bytes> out;
  for (int i = 0; i < kTemplates; ++i) {
    const int kind = i % 3;
    Bytes f(size_t(60 + (i * 37) % 131), 0);
    const uint8_t dst[6] = {0x00, 0x0C, 0x29, 0x1A, 0x2B, uint8_t(i)};
    const uint8_t src[6] = {0x02, 0x00, 0x00, 0x00, uint8_t(i >> 8), uint8_t(i)};
    std::copy(dst, dst + 6, f.begin());
    std::copy(src, src + 6, f.begin() + 6);
    if (kind == 0) {
      f[12] = 0x08, f[13] = 0x06;
    } else {
      f[12] = 0x08, f[13] = 0x00, f[14] = 0x45;
      f[23] = kind == 1 ? 6 : 17;
      f[26] = 10, f[27] = 0, f[28] = uint8_t(i >> 8), f[29] = uint8_t(i);
      f[30] = 10, f[31] = 1, f[32] = 2, f[33] = 3;
    }
    out.push_back(std::move(f));
  }
  return out;
}

// Classic pcap file: global header, then one record per frame.
bool WritePcap(const std::string& path, const std::vector<Bytes>& frames) {
  std::ofstream out(path, std::ios::binary);
  auto put32 = [&](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
  auto put16 = [&](uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
  put32(0xA1B2C3D4), put16(2), put16(4), put32(0), put32(0), put32(65535), put32(1);
  uint32_t t = 0;
  for (const Bytes& f : frames) {
    put32(1700000000), put32(t++), put32(uint32_t(f.size())), put32(uint32_t(f.size()));
    out.write(reinterpret_cast<const char*>(f.data()), std::streamsize(f.size()));
  }
  return bool(out);
}

std::vector<Bytes> ReadPcap(const std::string& path) {
  std::vector<Bytes> frames;
  char err[PCAP_ERRBUF_SIZE] = {};
  pcap_t* p = pcap_open_offline(path.c_str(), err);
  if (!p) {
    std::fprintf(stderr, "cannot read %s: %s\n", path.c_str(), err);
    return frames;
  }
  pcap_pkthdr* h = nullptr;
  const u_char* data = nullptr;
  while (pcap_next_ex(p, &h, &data) == 1) frames.emplace_back(data, data + h->caplen);
  pcap_close(p);
  return frames;
}

// Replays the file's frames, cycling, until `total` have been handed over.
// rate 0: as fast as the component takes them; otherwise that many per second.
class ReplayMonitor : public TKelNetMonitor {
 public:
  ReplayMonitor(QObject* owner, const std::vector<Bytes>& frames, uint32_t total, double rate)
      : TKelNetMonitor(owner), FFrames(frames), FTotal(total), FRate(rate) {
    setShowErrMsgBox(false);
  }
  ~ReplayMonitor() override { DeInitialize(); }
  uint32_t Sent() const { return FSent.load(); }

 protected:
  bool Driver_Open() override { return true; }
  bool Driver_Close() override { return true; }
  void Driver_RetrieveAdapterList() override { AddAdapter("replay0", "replay0"); }
  bool Driver_BindAdapter(const char*) override { return true; }
  bool Driver_UnBindAdapter() override { return true; }
  bool Driver_SetFilter(const std::string&) override { return true; }

  void TakeTimeToProcess() override {
    if (!isBound()) return;
    if (!FClock.isValid()) FClock.start();
    // One long read: stops when all are sent or the UI wants the adapter.
    while (FSent.load() < FTotal && !WakeRequested()) {
      uint32_t due = FTotal;
      if (FRate > 0) {
        due = std::min<uint32_t>(FTotal, uint32_t(FRate * double(FClock.nsecsElapsed()) / 1e9));
        if (due <= FSent.load()) {
          QThread::usleep(500);
          continue;
        }
      }
      for (uint32_t n = FSent.load(); n < due && !(n % 1024 == 0 && WakeRequested()); ++n) {
        const Bytes& f = FFrames[n % FFrames.size()];
        HandlePacket(new TKelNetPacket(f.data(), uint32_t(f.size()), receivedCount(), true));
        FSent.store(n + 1);
      }
    }
  }

 private:
  const std::vector<Bytes>& FFrames;
  const uint32_t FTotal;
  const double FRate;
  std::atomic<uint32_t> FSent{0};
  QElapsedTimer FClock;
};

struct RunResult {
  double seconds = 0;
  double maxGapMs = 0;
  long residentGrowth = 0;
  uint64_t frameBytes = 0;
  double scrollMs = 0, selectMs = 0;
  bool complete = false;
};

RunResult Run(const std::vector<Bytes>& frames, double rate, bool measureViews) {
  RunResult r;
  auto list = std::make_unique<netvane::FrameList>();
  ReplayMonitor* monitor = nullptr;
  auto form = std::make_unique<TForm1>(*list, nullptr, [&](QObject* owner) {
    monitor = new ReplayMonitor(owner, frames, kFrames, rate);
    return monitor;
  });
  form->show();
  QCoreApplication::processEvents();
  const long before = benchprobe::ResidentBytes();

  benchprobe::Heartbeat heart;
  QElapsedTimer clock;
  clock.start();
  heart.Start();
  form->Start->click();
  while (form->packetModel()->listed() < kFrames && clock.elapsed() < 120000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  r.seconds = double(clock.nsecsElapsed()) / 1e9;
  heart.Stop();
  r.maxGapMs = heart.LongestGapMs();
  r.complete = form->packetModel()->listed() == kFrames;

  r.frameBytes = list->StoredBytes();
  r.residentGrowth = benchprobe::ResidentBytes() - before;

  if (measureViews) {
    QTableView* grid = form->Packets;
    QElapsedTimer t;
    t.start();
    grid->scrollToBottom();
    grid->repaint();
    r.scrollMs = double(t.nsecsElapsed()) / 1e6;
    t.restart();
    grid->setCurrentIndex(form->packetModel()->index(int(kFrames / 2), 3));
    grid->scrollTo(grid->currentIndex());
    grid->repaint();
    r.selectMs = double(t.nsecsElapsed()) / 1e6;
  }
  // The frames go unsaved: cleared first, so closing asks nothing.
  form->ClearPackets();
  form->close();
  form.reset();
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  netvane::TApplication app(argc, argv);

  QTemporaryDir dir;
  const std::string path = dir.filePath("replay.pcap").toStdString();
  if (!WritePcap(path, MakeTemplates())) return 1;
  const std::vector<Bytes> frames = ReadPcap(path);
  if (frames.size() != size_t(kTemplates)) return 1;

  const RunResult fast = Run(frames, 0, true);
  const RunResult paced = Run(frames, 50000, false);

  const double perFrame = double(fast.residentGrowth) / double(kFrames);
  std::printf("bench_ingest: %u frames replayed from a pcap file through the capture component\n", kFrames);
  std::printf("  ingest, unpaced:          %10.0f frames/s  (%.2f s%s; goal >= 200000)\n",
              kFrames / fast.seconds, fast.seconds, fast.complete ? "" : ", INCOMPLETE");
  std::printf("  longest UI stall, unpaced:%10.1f ms\n", fast.maxGapMs);
  std::printf("  longest UI stall at 50000 frames/s: %.1f ms over %.2f s%s (goal <= 50 ms)\n", paced.maxGapMs,
              paced.seconds, paced.complete ? "" : ", INCOMPLETE");
  std::printf("  resident growth:          %10.1f MB; the spool holds %.1f MB\n", fast.residentGrowth / 1e6,
              fast.frameBytes / 1e6);
  std::printf("  resident per frame:       %10.1f bytes (goal <= 8 beyond a fixed part)\n", perFrame);
  std::printf("  with 1e6 rows: scroll to end + paint %.1f ms, select middle row + paint %.1f ms\n",
              fast.scrollMs, fast.selectMs);
  const bool ok = fast.complete && paced.complete;
  return ok ? 0 : 1;
}
