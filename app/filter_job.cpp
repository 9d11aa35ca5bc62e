#include "app/filter_job.h"

#include <chrono>
#include <span>

#include "pcapfile/frame_filter.h"
#include "pcapfile/frame_list.h"

namespace {

using Clock = std::chrono::steady_clock;
// Batches after the first: about the window's listing rate.
constexpr auto kHandOverEvery = std::chrono::milliseconds(30);
// The clock is read once per this many frames.
constexpr uint32_t kClockEvery = 256;

}  // namespace

TFilterJob::TFilterJob(const netvane::FrameList& frames, std::shared_ptr<const netvane::FrameFilter> filter,
                       uint32_t first)
    : FFrames(frames), FFilter(std::move(filter)), FFirst(first == 0 ? 1 : first) {
  FThread = std::thread([this] { Walk(); });
}

TFilterJob::~TFilterJob() {
  {
    const std::lock_guard<std::mutex> lock(FLock);
    FStop.store(true);
  }
  FWakeUp.notify_all();
  if (FThread.joinable()) FThread.join();
}

void TFilterJob::More() {
  {
    const std::lock_guard<std::mutex> lock(FLock);
    FWake = true;
  }
  FWakeUp.notify_all();
}

uint32_t TFilterJob::Take(std::vector<uint32_t>& matches) {
  matches.clear();
  const std::lock_guard<std::mutex> lock(FLock);
  // Cleared under the lock: a hand-over after this posts again.
  FPosted.store(false);
  matches.swap(FMatches);
  return FChecked;
}

void TFilterJob::HandOver(std::vector<uint32_t>& batch, uint32_t checkedUpTo) {
  {
    const std::lock_guard<std::mutex> lock(FLock);
    if (FMatches.empty())
      FMatches.swap(batch);
    else
      FMatches.insert(FMatches.end(), batch.begin(), batch.end());
    FChecked = checkedUpTo;
  }
  batch.clear();
  if (!FPosted.exchange(true)) QMetaObject::invokeMethod(this, &TFilterJob::checked, Qt::QueuedConnection);
}

void TFilterJob::Walk() {
  const netvane::FrameFilter& filter = *FFilter;
  uint32_t next = FFirst;
  uint32_t reported = next - 1;  // the last frame checked that the UI was told of
  bool anyHandedOver = false;
  Clock::time_point last = Clock::now();
  std::vector<uint32_t> batch;
  while (!FStop.load()) {
    const uint32_t count = FFrames.Count();
    if (next <= count) {
      FFrames.ForEachRecord(
          next, count, [&](uint32_t number, std::span<const uint8_t> bytes, const netvane::CaptureStamp& s) {
            if (FStop.load(std::memory_order_relaxed)) return false;
            if (filter.Matches(bytes, s.wireLength)) batch.push_back(number);
            next = number + 1;
            // The first match goes at once; then a batch per interval.
            if (number % kClockEvery == 0 || (!anyHandedOver && !batch.empty())) {
              const Clock::time_point now = Clock::now();
              if ((!anyHandedOver && !batch.empty()) || now - last >= kHandOverEvery) {
                HandOver(batch, number);
                reported = number;
                anyHandedOver = true;
                last = now;
              }
            }
            return true;
          });
      if (FStop.load()) break;
    }
    if (next - 1 != reported || !batch.empty()) {
      HandOver(batch, next - 1);
      reported = next - 1;
      anyHandedOver = true;
      last = Clock::now();
    }
    // Caught up: wait for frames, a wake-up or the stop; a look now and then
    // in case frames came without a word.
    std::unique_lock<std::mutex> lock(FLock);
    if (FFrames.Count() < next)
      FWakeUp.wait_for(lock, std::chrono::milliseconds(kLookMs), [this] { return FWake || FStop.load(); });
    FWake = false;
  }
}
