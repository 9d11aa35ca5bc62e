#include "app/progress_dialog.h"

#include <QProgressDialog>

#include <utility>

#include "app/application_title.h"

namespace {
constexpr int kSteps = 1000;
}

TProgressDialog::TProgressDialog(QWidget* window, QString label, std::function<void()> cancel)
    : window_(window), label_(std::move(label)), cancel_(std::move(cancel)) {
  clock_.start();
}

TProgressDialog::~TProgressDialog() {
  Close();
}

void TProgressDialog::Update(double done) {
  if (dialog_.isNull()) {
    if (clock_.elapsed() < kShowAfter.count()) return;
    dialog_ = new QProgressDialog(label_, QStringLiteral("Cancel"), 0, kSteps, window_);
    dialog_->setWindowTitle(QString::fromLatin1(netvane::kApplicationTitle));
    dialog_->setWindowModality(Qt::NonModal);
    dialog_->setMinimumDuration(0);
    dialog_->setAutoClose(false);
    dialog_->setAutoReset(false);
    QObject::connect(dialog_, &QProgressDialog::canceled, dialog_, [this] { cancel_(); });
    dialog_->show();
  }
  dialog_->setValue(static_cast<int>(done * kSteps));
}

void TProgressDialog::Close() {
  if (dialog_.isNull()) return;
  // Closing it must not count as a Cancel.
  dialog_->disconnect();
  dialog_->deleteLater();
  dialog_.clear();
}
