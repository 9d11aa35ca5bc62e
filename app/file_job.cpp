#include "app/file_job.h"

#include <QProgressDialog>

#include <utility>

#include "app/exception_report.h"

QProgressDialog* NewProgressDialog(QWidget* window, const QString& label) {
  auto* dialog = new QProgressDialog(label, QStringLiteral("Cancel"), 0, 1000, window);
  dialog->setWindowTitle(QString::fromLatin1(netvane::kApplicationTitle));
  dialog->setWindowModality(Qt::NonModal);
  dialog->setMinimumDuration(0);
  dialog->setAutoClose(false);
  dialog->setAutoReset(false);
  dialog->show();
  return dialog;
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
    progress_ = NewProgressDialog(window_, label_);
    connect(progress_, &QProgressDialog::canceled, this, &TFileJob::Cancel);
  }
  if (!progress_.isNull()) progress_->setValue(static_cast<int>(Progress() * progress_->maximum()));
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
