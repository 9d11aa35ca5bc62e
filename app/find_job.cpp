#include "app/find_job.h"

#include <QProgressDialog>

#include <exception>
#include <utility>

#include "app/file_job.h"
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
    : window_(window),
      label_(std::move(label)),
      frames_(frames),
      matcher_(std::move(matcher)),
      main_(main),
      wrapped_(wrapped),
      shown_(std::move(shown)) {
  clock_.start();
  progressTimer_.setInterval(kProgressTickMs);
  connect(&progressTimer_, &QTimer::timeout, this, &TFindJob::ShowProgress);
  progressTimer_.start();
  thread_ = std::thread([this] { Walk(); });
}

TFindJob::~TFindJob() {
  stop_.store(true);
  if (thread_.joinable()) thread_.join();
  // A Done still queued goes with the object.
  delete progress_.data();
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
  QMetaObject::invokeMethod(this, &TFindJob::Done, Qt::QueuedConnection);
}

void TFindJob::Done() {
  thread_.join();
  progressTimer_.stop();
  if (!progress_.isNull()) {
    // Closing it must not count as a Cancel.
    progress_->disconnect(this);
    progress_->deleteLater();
    progress_.clear();
  }
  const bool cancelled = found_ == 0 && stop_.load();
  emit finished(found_, foundWrapped_, cancelled, QString::fromStdString(failure_));
}

void TFindJob::ShowProgress() {
  if (progress_.isNull() && clock_.elapsed() >= TFileJob::kProgressAfter.count()) {
    progress_ = NewProgressDialog(window_, label_);
    connect(progress_, &QProgressDialog::canceled, this, &TFindJob::Cancel);
  }
  if (progress_.isNull()) return;
  const uint64_t total = main_.size() + wrapped_.size();
  progress_->setValue(
      total == 0 ? 0 : static_cast<int>(double(visited()) / double(total) * progress_->maximum()));
}
