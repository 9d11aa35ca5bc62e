// Follow TCP stream and Conversations in the main window (offscreen) on a
// capture of one large TCP download: the time to the first page of the
// followed stream and to its end, the peak resident memory while following and
// while saving the server's side, the save's rate, and the time the
// Conversations window takes to count the file.
//
// The capture: one connection whose server sends NETVANE_BENCH_STREAM_MB
// (default 300) MiB in 1448-byte segments, written by this program into TMPDIR
// and removed afterwards. Goals: the first page within 0.5 s; following and
// saving under 100 MB resident beyond what the opened window held.
//
// A plain program rather than a Google Benchmark; arguments are ignored.
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/Form1.h"
#include "app/conversations_window.h"
#include "app/follow_window.h"
#include "app/packet_list_model.h"
#include "app/stream_tools.h"
#include "bench/app/idle_window.h"
#include "bench/app/window_probe.h"
#include "capture/KelNetMonitor.h"
#include "pcapfile/frame_list.h"

namespace {

using benchwindow::IdleMonitor;
using benchwindow::Pump;

void Put16(std::vector<uint8_t>& f, std::size_t at, uint16_t v) {
  f[at] = uint8_t(v >> 8);
  f[at + 1] = uint8_t(v);
}
void Put32(std::vector<uint8_t>& f, std::size_t at, uint32_t v) {
  Put16(f, at, uint16_t(v >> 16));
  Put16(f, at + 2, uint16_t(v));
}

// One Ethernet/IPv4/TCP frame from 10.0.0.2:80 (server) or 10.0.0.1:40000.
std::vector<uint8_t> Segment(bool fromServer, uint32_t seq, uint32_t ack, uint8_t flags, std::size_t payload,
                             uint32_t fill) {
  std::vector<uint8_t> f(54 + payload, 0);
  f[0] = 2, f[5] = fromServer ? 1 : 2, f[6] = 2, f[11] = fromServer ? 2 : 1;
  Put16(f, 12, 0x0800);
  f[14] = 0x45;
  Put16(f, 16, uint16_t(40 + payload));
  f[22] = 64, f[23] = 6;
  const uint8_t client[4] = {10, 0, 0, 1}, server[4] = {10, 0, 0, 2};
  for (int i = 0; i < 4; ++i)
    f[26 + i] = fromServer ? server[i] : client[i], f[30 + i] = fromServer ? client[i] : server[i];
  Put16(f, 34, fromServer ? 80 : 40000);
  Put16(f, 36, fromServer ? 40000 : 80);
  Put32(f, 38, seq);
  Put32(f, 42, ack);
  f[46] = 0x50, f[47] = flags;
  Put16(f, 48, 65535);
  for (std::size_t k = 0; k < payload; ++k) f[54 + k] = uint8_t(fill + k * 7);
  return f;
}

bool WriteDownload(const std::string& path, uint64_t bytes) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  const uint32_t header[6] = {0xA1B2C3D4, 0x00040002, 0, 0, 65535, 1};
  std::fwrite(header, 1, sizeof header, out);
  uint32_t n = 0;
  const auto put = [&](const std::vector<uint8_t>& f) {
    const uint32_t record[4] = {1700000000 + n / 10000, (n % 10000) * 100, uint32_t(f.size()),
                                uint32_t(f.size())};
    ++n;
    std::fwrite(record, 1, sizeof record, out);
    std::fwrite(f.data(), 1, f.size(), out);
  };
  put(Segment(false, 100, 0, 0x02, 0, 0));
  put(Segment(true, 5000, 101, 0x12, 0, 0));
  put(Segment(false, 101, 5001, 0x18, 20, 0));
  uint32_t seq = 5001;
  for (uint64_t sent = 0; sent < bytes;) {
    const std::size_t len = std::size_t(std::min<uint64_t>(1448, bytes - sent));
    put(Segment(true, seq, 121, 0x18, len, uint32_t(sent)));
    seq += uint32_t(len);
    sent += len;
    if (n % 2 == 0) put(Segment(false, 121, seq, 0x10, 0, 0));
  }
  put(Segment(true, seq, 121, 0x11, 0, 0));
  return std::fclose(out) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  const char* mb = std::getenv("NETVANE_BENCH_STREAM_MB");
  const uint64_t bytes = uint64_t(mb != nullptr ? std::atoll(mb) : 300) << 20;
  QTemporaryDir dir;
  const QString file = dir.filePath("download.pcap");
  if (!WriteDownload(file.toStdString(), bytes)) return 1;
  auto list = std::make_unique<netvane::FrameList>();
  auto form = std::make_unique<TForm1>(*list, nullptr, [](QObject* owner) { return new IdleMonitor(owner); });
  form->show();
  if (!form->OpenCaptureFile(file)) return 1;
  Pump([&] { return form->fileJob() == nullptr; });
  std::printf("bench_follow: a download of %.0f MiB, %u frames\n", double(bytes) / 1048576.0,
              form->packetModel()->listed());

  QElapsedTimer t;
  t.start();
  form->streamTools()->ConversationsClick();
  TConversationsWindow* conversations = form->streamTools()->conversations();
  Pump([&] { return conversations->caughtUp(); });
  std::printf("  Conversations counted the file in %.3f s\n", double(t.nsecsElapsed()) / 1e9);

  const long before = benchprobe::ResidentBytes();
  benchprobe::ResetPeakResident();
  t.restart();
  TFollowWindow* follow = form->streamTools()->FollowStream(0, nullptr);
  Pump([&] { return !follow->Text->toPlainText().isEmpty() || follow->done(); });
  const double first = double(t.nsecsElapsed()) / 1e9;
  Pump([&] { return follow->done(); });
  const double whole = double(t.nsecsElapsed()) / 1e9;
  const double followPeak = double(benchprobe::PeakResidentBytes() - before) / 1048576.0;
  std::printf(
      "  Follow TCP stream: first page %.3f s, the whole stream %.2f s; server %llu bytes, %llu missing; "
      "peak resident %.1f MB beyond the opened window\n",
      first, whole, static_cast<unsigned long long>(follow->state().bytes[1]),
      static_cast<unsigned long long>(follow->state().missing[1]), followPeak);
  benchprobe::ResetPeakResident();
  follow->Sides->setCurrentIndex(2);
  t.restart();
  QString why;
  const bool saved = follow->SaveTo(dir.filePath("server.bin"), why);
  const double save = double(t.nsecsElapsed()) / 1e9;
  std::printf("  Save as (server): %s in %.2f s, %.0f MB/s; peak resident %.1f MB beyond the opened window\n",
              saved ? "written" : why.toLocal8Bit().constData(), save, double(bytes) / 1e6 / save,
              double(benchprobe::PeakResidentBytes() - before) / 1048576.0);
  const bool ok = saved && follow->state().bytes[1] == bytes && first < 0.5;
  form.reset();
  return ok ? 0 : 1;
}
