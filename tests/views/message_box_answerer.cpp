#include "message_box_answerer.h"

#include <QApplication>
#include <QFileDialog>
#include <QPushButton>
#include <QTest>

namespace viewtest {

MessageBoxAnswerer::MessageBoxAnswerer(std::vector<QMessageBox::StandardButton> plan, QString fileName)
    : plan_(std::move(plan)), fileName_(std::move(fileName)) {
  timer_.setInterval(5);
  connect(&timer_, &QTimer::timeout, this, &MessageBoxAnswerer::Poll);
  timer_.start();
}

MessageBoxAnswerer::~MessageBoxAnswerer() {
  timer_.stop();
}

void MessageBoxAnswerer::Poll() {
  if (auto* files = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      files != nullptr && files->isVisible()) {
    seen_.push_back({files->windowTitle(), fileName_, QMessageBox::NoIcon, QMessageBox::NoButton,
                     QMessageBox::NoButton, QMessageBox::NoButton, files->parentWidget()});
    QDialog* dialog = files;  // QFileDialog's own accept() and done() are protected
    if (fileName_.isEmpty()) {
      dialog->reject();
    } else {
      files->selectFile(fileName_);
      dialog->accept();
    }
    if (dialog->isVisible()) dialog->done(QDialog::Rejected);
    return;
  }
  auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
  if (!box || !box->isVisible()) return;
  QMessageBox::StandardButton def = QMessageBox::NoButton;
  if (box->defaultButton()) def = box->standardButton(box->defaultButton());
  QMessageBox::StandardButton esc = QMessageBox::NoButton;
  if (box->escapeButton()) esc = box->standardButton(box->escapeButton());
  seen_.push_back(
      {box->windowTitle(), box->text(), box->icon(), box->standardButtons(), def, esc, box->parentWidget()});
  const size_t i = seen_.size() - 1;
  const QMessageBox::StandardButton answer = i < plan_.size() ? plan_[i] : QMessageBox::NoButton;
  if (answer == QMessageBox::NoButton || !box->button(answer)) {
    QTest::keyClick(box, Qt::Key_Escape);
  } else {
    box->button(answer)->click();
  }
  // A box that Escape cannot close is closed anyway rather than left to hang the test.
  if (box->isVisible()) box->done(0);
}

}  // namespace viewtest
