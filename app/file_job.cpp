#include "app/file_job.h"

#include <QProgressDialog>

#include <utility>

#include "app/exception_report.h"

namespace {
constexpr int kProgressSteps = 1000;
}

TFileJob::TFileJob(QWidget* window, QString label) : window_(window), label_(std::move(label)) {
  timer_.setInterval(0);
  connect(&timer_, &QTimer::timeout, this, &TFileJob::Step);
}

TFileJob::~TFileJob() {
  delete progress_.data();
}

void TFileJob::Begin() {
  running_ = true;
  clock_.start();
  timer_.start();
}

void TFileJob::Step() {
  if (!running_) return;
  if (Slice(std::chrono::steady_clock::now() + kSlice)) {
    Finish();
    return;
  }
  if (progress_.isNull() && clock_.elapsed() >= kProgressAfter.count()) {
    // Not modal: the list can be looked at while it fills.
    auto* dialog = new QProgressDialog(label_, QStringLiteral("Cancel"), 0, kProgressSteps, window_);
    dialog->setWindowTitle(QString::fromLatin1(netvane::kApplicationTitle));
    dialog->setWindowModality(Qt::NonModal);
    dialog->setMinimumDuration(0);
    dialog->setAutoClose(false);
    dialog->setAutoReset(false);
    // Cancel and the dialog's close button both end the operation.
    connect(dialog, &QProgressDialog::canceled, this, &TFileJob::Cancel);
    progress_ = dialog;
    dialog->show();
  }
  if (!progress_.isNull()) progress_->setValue(static_cast<int>(Progress() * kProgressSteps));
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
  if (!progress_.isNull()) {
    // Closing it must not count as a Cancel.
    progress_->disconnect(this);
    progress_->deleteLater();
    progress_.clear();
  }
  emit finished();
}
