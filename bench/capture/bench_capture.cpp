// Frames per second through driver record -> HandlePacket -> FIFO ->
// GetNextPacket into the consumer's record, and heap allocations per frame.
// Allocations are counted by replacing the global operator new in this binary.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <new>
#include <thread>
#include <vector>

#include "capture/KelNetMonitor.h"

namespace {
std::atomic<long long> gAllocations{0};
}

void* operator new(std::size_t size) {
  gAllocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  gAllocations.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t& t) noexcept {
  return operator new(size, t);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}

namespace {

// A driver whose "read" is a frame already in memory, so the figures are the
// component's own cost, not a capture library's.
class BenchDriver : public TKelNetMonitor {
 public:
  explicit BenchDriver(uint32_t length) : frame(length, 0x5A) { setShowErrMsgBox(false); }
  ~BenchDriver() override { DeInitialize(); }

  // What a driver does per frame: its own record with a copy of the bytes.
  void DeliverOne() {
    HandlePacket(
        new TKelNetPacket(frame.data(), static_cast<uint32_t>(frame.size()), FReceived.load(), true));
  }

  bool Driver_Open() override { return true; }
  bool Driver_Close() override { return true; }
  void Driver_RetrieveAdapterList() override { AddAdapter("bench0", "Bench adapter"); }
  bool Driver_BindAdapter(const char*) override { return true; }
  bool Driver_UnBindAdapter() override { return true; }
  bool Driver_SetFilter(const std::string&) override { return true; }
  void TakeTimeToProcess() override {
    if (!isBound()) return;
    for (int i = 0; i < 50 && !WakeRequested(); ++i) DeliverOne();
  }

  std::vector<uint8_t> frame;
};

// One thread: the driver's record, HandlePacket, the new-packet handler taking
// the frame with GetNextPacket, as the main window's handler does.
void BM_DeliverAndTake(benchmark::State& state) {
  BenchDriver m(static_cast<uint32_t>(state.range(0)));
  TKelNetPacket consumer;
  int64_t bytes = 0;
  m.setOnNewPacket([&](TKelNetMonitor* s) {
    while (s->get_packetcount() > 0 && s->GetNextPacket(&consumer)) bytes += consumer.Length;
  });
  m.DeliverOne();  // the consumer's record holds a frame from here on, as in steady state
  const long long allocBefore = gAllocations.load();
  for (auto _ : state) {
    m.DeliverOne();
    benchmark::DoNotOptimize(consumer.Data);
  }
  const long long allocs = gAllocations.load() - allocBefore;
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(bytes);
  state.counters["frames/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["allocs/frame"] = static_cast<double>(allocs) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_DeliverAndTake)->Arg(60)->Arg(1514);

// The same path with the driver on the worker thread and the consumer in the
// new-packet handler: adds the FIFO lock, the thread turn and its look for queued work.
void BM_WorkerThroughput(benchmark::State& state) {
  BenchDriver m(static_cast<uint32_t>(state.range(0)));
  TKelNetPacket consumer;
  std::atomic<long long> taken{0};
  m.setOnNewPacket([&](TKelNetMonitor* s) {
    while (s->get_packetcount() > 0 && s->GetNextPacket(&consumer))
      taken.fetch_add(1, std::memory_order_relaxed);
  });
  m.Open();
  m.SelectAdapter(0);
  m.StartCapture();
  m.NotifyThreadStart(0);
  while (taken.load() == 0) std::this_thread::yield();
  const long long allocBefore = gAllocations.load();
  const long long takenBefore = taken.load();
  constexpr long long kBatch = 20000;
  for (auto _ : state) {
    const long long target = taken.load() + kBatch;
    while (taken.load(std::memory_order_relaxed) < target) std::this_thread::yield();
  }
  const long long frames = taken.load() - takenBefore;
  const long long allocs = gAllocations.load() - allocBefore;
  m.Close();
  state.SetItemsProcessed(frames);
  state.counters["frames/s"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
  state.counters["allocs/frame"] = static_cast<double>(allocs) / static_cast<double>(frames);
}
BENCHMARK(BM_WorkerThroughput)->Arg(60)->Arg(1514)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
