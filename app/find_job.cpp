#include "app/find_job.h"

#include <exception>
#include <utility>

#include "pcapfile/frame_filter.h"
#include "pcapfile/frame_list.h"

namespace {
constexpr int kProgressTickMs = 50;
}

uint64_t TFindJob::Range::size() const {
  if (first == 0) return 0;
  return (first <= last ? uint64_t{last} - first : uint64_t{first} - last) + 1;
}

TFindJob::TFindJob(QWidget* window, QString label, const netvane::FrameList& frames,
                   netvane::FrameMatcher matcher, Range main, Range wrapped,
                   std::shared_ptr<const netvane::FrameFilter> shown)
    : frames_(frames),
      matcher_(std::move(matcher)),
      main_(main),
      wrapped_(wrapped),
      shown_(std::move(shown)),
      progress_(window, std::move(label), [this] { Cancel(); }) {
  progressTimer_.setInterval(kProgressTickMs);
  connect(&progressTimer_, &QTimer::timeout, this, &TFindJob::ShowProgress);
  progressTimer_.start();
  walk_.Start(this, [this]() -> TThreadCall::Outcome {
    Walk();
    return [this] { Done(); };
  });
}

TFindJob::~TFindJob() {
  stop_.store(true);
  // A Done still queued goes with the object.
  walk_.Join();
}

void TFindJob::Cancel() {
  stop_.store(true);
}

void TFindJob::Walk() {
  uint64_t visited = 0;
  uint32_t found = 0;
  const auto visit = [&](uint32_t number, std::span<const uint8_t> bytes,
                         const netvane::CaptureStamp& stamp) {
    if (stop_.load(std::memory_order_relaxed)) return false;
    visited_.store(++visited, std::memory_order_relaxed);
    if (!matcher_.Matches(bytes)) return true;
    if (shown_ && !shown_->Matches(bytes, stamp.wireLength)) return true;
    found = number;
    return false;
  };
  try {
    if (main_.first != 0) frames_.ForEachRecord(main_.first, main_.last, visit);
    if (found == 0 && wrapped_.first != 0 && !stop_.load()) {
      frames_.ForEachRecord(wrapped_.first, wrapped_.last, visit);
      foundWrapped_ = found != 0;
    }
  } catch (const std::exception& e) {
    failure_ = e.what();
  } catch (...) {
    failure_ = "unknown error";
  }
  found_ = found;
}

void TFindJob::Done() {
  progressTimer_.stop();
  progress_.Close();
  const bool cancelled = found_ == 0 && stop_.load();
  emit finished(found_, foundWrapped_, cancelled, QString::fromStdString(failure_));
}

void TFindJob::ShowProgress() {
  const uint64_t total = main_.size() + wrapped_.size();
  progress_.Update(total == 0 ? 0.0 : double(visited()) / double(total));
}
