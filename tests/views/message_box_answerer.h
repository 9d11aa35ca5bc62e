#pragma once
// Answers the modal message boxes that code under test opens with exec():
// each box is recorded, then answered with the next planned button (or the
// Escape key). A box beyond the plan is dismissed with Escape so a test can
// never hang on it; the record then shows one box too many. A file dialog is
// answered with the file name given, or cancelled when there is none; it is
// recorded too, with its title and that name as its text.

#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QTimer>

#include <vector>

namespace viewtest {

struct SeenBox {
  QString title;
  QString text;
  QMessageBox::Icon icon;
  QMessageBox::StandardButtons buttons;
  QMessageBox::StandardButton defaultButton;
  QMessageBox::StandardButton escapeButton;
  QWidget* parent;
};

// QMessageBox::NoButton in a plan stands for pressing Escape.
class MessageBoxAnswerer : public QObject {
 public:
  explicit MessageBoxAnswerer(std::vector<QMessageBox::StandardButton> plan, QString fileName = {});
  ~MessageBoxAnswerer() override;
  const std::vector<SeenBox>& Seen() const { return seen_; }

 private:
  void Poll();
  std::vector<QMessageBox::StandardButton> plan_;
  QString fileName_;
  std::vector<SeenBox> seen_;
  QTimer timer_;
};

}  // namespace viewtest
