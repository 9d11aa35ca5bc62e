// Time to show one frame in the hex and character dumps and the protocol tree,
// up to a painted window, for frames of up to the 20000-byte snapshot length.
#include <QApplication>
#include <QString>
#include <QTextDocument>
#include <QTextEdit>
#include <QTreeWidget>
#include <QWidget>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "app/frame_views.h"

namespace {

std::vector<uint8_t> Frame(std::size_t n) {
  // A TCP/IP header, then every byte value in turn (line feeds included).
  std::vector<uint8_t> f = {0x00, 0x0C, 0x29, 0x1A, 0x2B, 0x3C, 0x00, 0x50, 0x56, 0xC0, 0x00,
                            0x08, 0x08, 0x00, 0x45, 0x00, 0x4E, 0x0C, 0x1C, 0x46, 0x40, 0x00,
                            0x40, 0x06, 0xB1, 0xE6, 192,  168,  1,    10,   10,   0,    0,
                            1,    0x04, 0xD2, 0x00, 0x50, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC,
                            0xDE, 0xF0, 0x50, 0x18, 0xFA, 0xF0, 0xAB, 0xCD, 0x00, 0x00};
  for (std::size_t i = f.size(); i < n; ++i) f.push_back(static_cast<uint8_t>(i));
  f.resize(n);
  return f;
}

struct Window {
  Window() {
    host.resize(883, 681);
    Packet = new QTextEdit(&host);
    Packet->setGeometry(280, 240, 265, 377);
    PacketASCII = new QTextEdit(&host);
    PacketASCII->setGeometry(552, 240, 313, 377);
    TV = new QTreeWidget(&host);
    TV->setGeometry(0, 40, 273, 577);
    QFont courier("Courier", 8);
    courier.setStyleHint(QFont::TypeWriter);
    Packet->setFont(courier);
    PacketASCII->setFont(courier);
    views = new TFrameViews(Packet, PacketASCII, TV, &host);
    views->InitialTree();
    host.show();
    QApplication::processEvents();
  }
  // Until the user sees it: events handled and both boxes painted.
  void Settle() {
    QApplication::processEvents();
    Packet->viewport()->repaint();
    PacketASCII->viewport()->repaint();
  }
  QWidget host;
  QTextEdit* Packet;
  QTextEdit* PacketASCII;
  QTreeWidget* TV;
  TFrameViews* views;
};

Window* window = nullptr;

// Alternates two frames of the same size so every iteration replaces the text.
void BM_ShowFrame(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  const std::vector<uint8_t> a = Frame(n);
  std::vector<uint8_t> b = a;
  if (n > 60) b[60] ^= 0xFF;
  bool flip = false;
  for (auto _ : state) {
    window->views->ShowFrame(flip ? a : b);
    window->Settle();
    flip = !flip;
  }
  state.counters["chars"] = static_cast<double>(3 * n + n);
}
BENCHMARK(BM_ShowFrame)->Arg(60)->Arg(1514)->Arg(20000)->Unit(benchmark::kMillisecond);

// The same, and then the whole of both documents laid out (what scrolling to
// the end would need), not only the visible part.
void BM_ShowFrameFullLayout(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  const std::vector<uint8_t> a = Frame(n);
  std::vector<uint8_t> b = a;
  b[60] ^= 0xFF;
  bool flip = false;
  for (auto _ : state) {
    window->views->ShowFrame(flip ? a : b);
    window->Settle();
    benchmark::DoNotOptimize(window->Packet->document()->size());
    benchmark::DoNotOptimize(window->PacketASCII->document()->size());
    flip = !flip;
  }
}
BENCHMARK(BM_ShowFrameFullLayout)->Arg(20000)->Unit(benchmark::kMillisecond);

// Each box on its own, to see where the time goes.
QString HexText(const std::vector<uint8_t>& f) {
  QString s;
  s.reserve(static_cast<qsizetype>(3 * f.size()));
  for (uint8_t b : f) s += QString::asprintf("%02X ", b);
  return s;
}

void BM_FillHexBox(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  std::vector<uint8_t> f = Frame(n);
  const QString texts[2] = {HexText(f), (f[60] ^= 0xFF, HexText(f))};
  int i = 0;
  for (auto _ : state) {
    window->Packet->setPlainText(texts[i ^= 1]);
    window->Settle();
  }
}
BENCHMARK(BM_FillHexBox)->Arg(20000)->Unit(benchmark::kMillisecond);

void BM_FillTextBox(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  std::vector<uint8_t> f = Frame(n);
  QString texts[2];
  for (QString& t : texts) {
    for (uint8_t b : f) t += b == 0 ? QChar('.') : QChar(b);
    f[60] ^= 0xFF;
  }
  int i = 0;
  for (auto _ : state) {
    window->PacketASCII->setPlainText(texts[i ^= 1]);
    window->Settle();
  }
}
BENCHMARK(BM_FillTextBox)->Arg(20000)->Unit(benchmark::kMillisecond);

// A click on a field line: remove the old range, colour the new one.
void BM_Highlight(benchmark::State& state) {
  window->views->ShowFrame(Frame(20000));
  window->Settle();
  bool flip = false;
  for (auto _ : state) {
    window->views->ColourRange(flip ? netvane::HighlightRange{141, 3} : netvane::HighlightRange{0, 18});
    window->Settle();
    flip = !flip;
  }
}
BENCHMARK(BM_Highlight)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  Window w;
  window = &w;
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  window = nullptr;
  return 0;
}
