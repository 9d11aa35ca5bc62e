#include "app/About.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>

#include "app/pictures.h"
#include "app/secondary_window.h"

namespace {

QLabel* PlacedLabel(QWidget* parent, const QString& text, int left, int top) {
  auto* l = new QLabel(text, parent);
  l->move(left, top);
  l->adjustSize();  // sized to its text
  return l;
}

}  // namespace

TForm3::TForm3(QWidget* parent) : QWidget(parent, Qt::Window | Qt::Dialog) {
  setObjectName("Form3");
  netvane::SetUpSecondaryWindow(this, "Netvane ");
  // Client area of a 297 x 203 window with its frame and title bar, placed at 350, 283.
  resize(289, 176);
  move(350, 283);

  Label1 = PlacedLabel(this, "Netvane", 32, 16);
  Label1->setObjectName("Label1");
  Image1 = new QLabel(this);
  Image1->setObjectName("Image1");
  Image1->setGeometry(224, 16, 33, 33);
  Image1->setPixmap(netvane::AppIconPixmap(32));
  Label4 = PlacedLabel(this, "Powered by WinPcap software.", 32, 88);
  Label4->setObjectName("Label4");
  Label5 = PlacedLabel(this, "Ver. 1.0", 32, 112);
  Label5->setObjectName("Label5");
  BitBtn1 = new QPushButton("OK", this);
  BitBtn1->setObjectName("BitBtn1");
  BitBtn1->setGeometry(96, 136, 113, 25);
  BitBtn1->setDefault(true);
  connect(BitBtn1, &QPushButton::clicked, this, &TForm3::BitBtn1Click);
}

void TForm3::ShowAbout() {
  show();
  raise();
  activateWindow();
}

void TForm3::BitBtn1Click() {
  hide();
}

void TForm3::closeEvent(QCloseEvent* event) {
  hide();
  event->accept();
}
