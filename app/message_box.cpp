#include "app/message_box.h"

#include <QPointer>

#include "app/application_title.h"

namespace netvane {

namespace {

QMessageBox* NewBox(QWidget* parent, QMessageBox::Icon icon, const QString& text, const QString& title,
                    QMessageBox::StandardButtons buttons) {
  return new QMessageBox(icon, title.isEmpty() ? QString::fromLatin1(kApplicationTitle) : title, text,
                         buttons, parent);
}

int Run(QMessageBox* box) {
  // The parent may go while the box's own loop runs, and the box with it.
  const QPointer<QMessageBox> guard(box);
  const int answer = box->exec();
  delete guard.data();
  return answer;
}

}  // namespace

void TellBox(QWidget* parent, QMessageBox::Icon icon, const QString& text, const QString& title) {
  Run(NewBox(parent, icon, text, title, QMessageBox::Ok));
}

QMessageBox::StandardButton AskBox(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                   QMessageBox::StandardButtons buttons,
                                   QMessageBox::StandardButton defaultButton,
                                   QMessageBox::StandardButton escapeButton) {
  QMessageBox* box = NewBox(parent, icon, text, {}, buttons);
  box->setDefaultButton(defaultButton);
  box->setEscapeButton(escapeButton);
  return static_cast<QMessageBox::StandardButton>(Run(box));
}

void NoticeBox(QWidget* parent, const QString& text) {
  QMessageBox* box = NewBox(parent, QMessageBox::Warning, text, {}, QMessageBox::Ok);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setModal(false);
  box->show();
}

}  // namespace netvane
