#include "app/file_job.h"

#include <utility>

TFileJob::TFileJob(QWidget* window, QString label) : window_(window), label_(std::move(label)) {
  timer_.setInterval(0);
  connect(&timer_, &QTimer::timeout, this, &TFileJob::Step);
}

TFileJob::~TFileJob() = default;

void TFileJob::Begin() {
  running_ = true;
  progress_.emplace(window_, label_, [this] { Cancel(); });
  timer_.start();
}

void TFileJob::Step() {
  if (!running_) return;
  if (Slice(std::chrono::steady_clock::now() + kSlice)) {
    Finish();
    return;
  }
  progress_->Update(Progress());
}

void TFileJob::RunToEnd() {
  while (running_) {
    if (Slice(std::chrono::steady_clock::time_point::max())) Finish();
  }
}

void TFileJob::Cancel() {
  if (!running_) return;
  cancelled_ = true;
  Cancelled();
  Finish();
}

void TFileJob::Finish() {
  running_ = false;
  timer_.stop();
  // Kept until the job goes: this may run inside its Cancel button's handler.
  if (progress_) progress_->Close();
  emit finished();
}
