#pragma once
// The about box: the program's name, icon, capture library and version.

#include <QWidget>

class QLabel;
class QPushButton;

class TForm3 : public QWidget {
  Q_OBJECT
 public:
  explicit TForm3(QWidget* parent = nullptr);
  // Shows the box without blocking its owner; a box already shown comes to the front.
  void ShowAbout();

  QLabel* Label1;
  QLabel* Image1;
  QLabel* Label4;
  QLabel* Label5;
  QPushButton* BitBtn1;

  void BitBtn1Click();

 protected:
  // The title bar's close hides the box like OK; it is reused for the next showing.
  void closeEvent(QCloseEvent* event) override;
};
