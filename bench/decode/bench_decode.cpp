// Per-frame cost of the packet-list row, the protocol tree and the dumps,
// and the frame list's memory overhead for a million frames.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <string>
#include <vector>

#include "bench/decode/mixed_traffic.h"
#include "decode/dumps.h"
#include "decode/packet_row.h"
#include "decode/protocol_tree.h"
#include "pcapfile/frame_list.h"

namespace {

using netvane::testing::Bytes;

const std::vector<Bytes>& Mix() {
  static const std::vector<Bytes> frames = [] {
    netvane::bench::MixedTraffic traffic;
    std::vector<Bytes> out;
    for (int i = 0; i < 4096; ++i) out.push_back(traffic.Next());
    return out;
  }();
  return frames;
}

void BM_AppendPacketRow(benchmark::State& state) {
  const auto& frames = Mix();
  std::string out;
  std::size_t i = 0;
  for (auto _ : state) {
    out.clear();
    netvane::AppendPacketRow(out, frames[i % frames.size()], static_cast<uint32_t>(i + 1), '\t');
    ++i;
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AppendPacketRow);

void BM_PacketRowCells(benchmark::State& state) {
  const auto& frames = Mix();
  std::size_t i = 0;
  for (auto _ : state) {
    auto row = netvane::PacketRow(frames[i % frames.size()], static_cast<uint32_t>(i + 1));
    ++i;
    benchmark::DoNotOptimize(row);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PacketRowCells);

void BM_ProtocolTree(benchmark::State& state) {
  const auto& frames = Mix();
  std::size_t i = 0;
  for (auto _ : state) {
    auto tree = netvane::BuildProtocolTree(frames[i++ % frames.size()]);
    benchmark::DoNotOptimize(tree);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ProtocolTree);

void BM_Dumps(benchmark::State& state) {
  const Bytes frame(static_cast<std::size_t>(state.range(0)), 0x5A);
  for (auto _ : state) {
    auto hex = netvane::HexDump(frame);
    auto text = netvane::TextDump(frame);
    benchmark::DoNotOptimize(hex.data());
    benchmark::DoNotOptimize(text.data());
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Dumps)->Arg(60)->Arg(1514)->Arg(20000);

// Bytes of the heap in use, the blocks malloc maps on their own included.
std::size_t HeapBytes() {
  const struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
}

// A million mixed frames appended; reports the heap the list holds per frame
// beyond what it holds empty (the frames themselves are in the spool).
void BM_FrameListMillion(benchmark::State& state) {
  const auto& frames = Mix();
  double overheadPerFrame = 0;
  for (auto _ : state) {
    netvane::FrameList list;
    const std::size_t before = HeapBytes();
    for (uint32_t n = 0; n < 1000000; ++n) {
      const Bytes& f = frames[n % frames.size()];
      list.Append(f.data(), static_cast<uint32_t>(f.size()));
    }
    overheadPerFrame = (static_cast<double>(HeapBytes()) - static_cast<double>(before)) / 1e6;
    benchmark::DoNotOptimize(list.Frame(500000).data());
  }
  state.SetItemsProcessed(state.iterations() * 1000000);
  state.counters["overhead_bytes_per_frame"] = overheadPerFrame;
}
BENCHMARK(BM_FrameListMillion)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
