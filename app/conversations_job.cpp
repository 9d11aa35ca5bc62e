#include "app/conversations_job.h"

#include <chrono>
#include <span>

#include "pcapfile/frame_filter.h"
#include "pcapfile/frame_list.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t kClockEvery = 4096;  // frames between looks at the clock

}  // namespace

TConversationsJob::TConversationsJob(const netvane::FrameList& frames, netvane::ConversationTable& table,
                                     std::shared_ptr<const netvane::FrameFilter> filter, uint32_t first)
    : FFrames(frames), FTable(table), FFilter(std::move(filter)), FFirst(first == 0 ? 1 : first) {
  FWalked.store(FFirst - 1);
  FThread = std::thread([this] { Walk(); });
}

TConversationsJob::~TConversationsJob() {
  {
    const std::lock_guard<std::mutex> lock(FLock);
    FStop.store(true);
  }
  FWakeUp.notify_all();
  if (FThread.joinable()) FThread.join();
}

bool TConversationsJob::Take(TConversationRows& rows) {
  const std::lock_guard<std::mutex> lock(FLock);
  FPosted.store(false);
  if (!FFresh) return false;
  FFresh = false;
  std::swap(rows, FCopy);
  return true;
}

void TConversationsJob::HandOver(uint32_t walked) {
  // Copied outside the lock: the table is this thread's while it runs.
  TConversationRows copy;
  for (int k = 0; k < netvane::kConversationKinds; ++k)
    copy.rows[k] = FTable.Rows(static_cast<netvane::ConversationKind>(k));
  copy.startMicros = FTable.CaptureStartMicros();
  copy.walked = walked;
  {
    const std::lock_guard<std::mutex> lock(FLock);
    std::swap(FCopy, copy);
    FFresh = true;
  }
  if (!FPosted.exchange(true))
    QMetaObject::invokeMethod(this, &TConversationsJob::updated, Qt::QueuedConnection);
}

void TConversationsJob::Walk() {
  const netvane::FrameFilter* filter = FFilter.get();
  uint32_t next = FFirst;
  uint32_t reported = UINT32_MAX;  // nothing handed over yet
  Clock::time_point last = Clock::now();
  while (!FStop.load()) {
    const uint32_t count = FFrames.Count();
    if (next <= count) {
      FFrames.ForEachRecord(
          next, count, [&](uint32_t number, std::span<const uint8_t> bytes, const netvane::CaptureStamp& s) {
            if (FStop.load(std::memory_order_relaxed)) return false;
            next = number + 1;
            const int64_t micros = s.seconds * 1000000 + s.microseconds;
            // The first frame is the capture's start, whether the filter takes it or not.
            if (!bytes.empty()) FTable.NoteCaptureStart(micros);
            if (!bytes.empty() && (filter == nullptr || filter->Matches(bytes, s.wireLength)))
              FTable.Add(number, bytes, s.wireLength, micros);
            FWalked.store(number, std::memory_order_relaxed);
            if (number % kClockEvery == 0 && Clock::now() - last >= std::chrono::milliseconds(kHandOverMs)) {
              HandOver(number);
              reported = number;
              last = Clock::now();
            }
            return true;
          });
      if (FStop.load()) break;
    }
    if (reported != next - 1) {
      HandOver(next - 1);
      reported = next - 1;
      last = Clock::now();
    }
    std::unique_lock<std::mutex> lock(FLock);
    FWakeUp.wait_for(lock, std::chrono::milliseconds(kLookMs), [this] { return FStop.load(); });
  }
}
