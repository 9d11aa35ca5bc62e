// The main window's controls: places, sizes, texts, colours, fonts, tab order.
#include "app/Form1.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <QTextEdit>
#include <QToolButton>
#include <QTreeWidget>

#include "app/contrast.h"
#include "app/fonts.h"
#include "app/packet_list_model.h"
#include "app/pictures.h"

namespace {

// Client area that holds the layout inside an 883 x 681 outer window with a
// 4-pixel frame and a 19-pixel caption.
constexpr int kClientWidth = 875;
constexpr int kClientHeight = 654;
constexpr int kLeft = 72;
constexpr int kTop = 48;

QToolButton* ImageButton(QWidget* parent, const char* name, const QPixmap& picture, const char* hint,
                         int left) {
  auto* b = new QToolButton(parent);
  b->setObjectName(QString::fromLatin1(name));
  b->setIcon(QIcon(picture));
  b->setIconSize(picture.size());
  b->setToolTip(QString::fromLatin1(hint));
  b->setFocusPolicy(Qt::NoFocus);  // image buttons are not in the tab order
  b->setGeometry(left, 0, 32, 32);
  return b;
}

QLabel* BoldLabel(QWidget* parent, const char* name, const char* text, int left, int top) {
  auto* l = new QLabel(QString::fromLatin1(text), parent);
  l->setObjectName(QString::fromLatin1(name));
  l->setFont(netvane::WindowFont(true));
  l->move(left, top);
  l->adjustSize();
  return l;
}

QTextEdit* Dump(QWidget* parent, const char* name, int left, int top, int width, int height) {
  auto* e = new QTextEdit(parent);
  e->setObjectName(QString::fromLatin1(name));
  e->setFont(netvane::DumpFont());
  e->setGeometry(left, top, width, height);
  e->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  e->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  e->setAcceptRichText(false);
  return e;
}

}  // namespace

// Controls are created in tab order (CardBox, PageControl1 with Packets, TV,
// Packet, PacketASCII on its page, then Broadcast): the focus chain follows
// creation, and the image buttons and labels take no focus.
void TForm1::BuildLayout() {
  // System colours are the application's, whatever a control's own palette holds.
  const QPalette system = QApplication::palette();
  SetUpWindow();
  BuildButtonsAndLabels();
  BuildCardBox(system);
  BuildPage(system);
  // The check box comes last in the tab order.
  BuildBroadcast();
}

void TForm1::SetUpWindow() {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("Netvane"));
  setWindowIcon(netvane::AppIcon());
  setFont(netvane::WindowFont(false));
  // Button face behind, window text in front: the window's own palette roles.
  setBackgroundRole(QPalette::Window);
  setForegroundRole(QPalette::WindowText);
  setAutoFillBackground(true);
  resize(kClientWidth, kClientHeight);
  move(kLeft, kTop);
}

void TForm1::BuildButtonsAndLabels() {
  Start = ImageButton(this, "Start", netvane::StartPicture(), "Start Capture", 0);
  Pause = ImageButton(this, "Pause", netvane::PausePicture(), "Pause Capture", 32);
  Stop = ImageButton(this, "Stop", netvane::StopPicture(), "Stop Capture", 64);
  Save = ImageButton(this, "Save", netvane::SavePicture(), "Save packet", 96);
  About = ImageButton(this, "About", netvane::AppIconPixmap(28), "About", 128);

  Status = BoldLabel(this, "Status", "Captured packets : ", 168, 0);
  Captured = BoldLabel(this, "Captured", "0", 184, 16);

  Label1 = BoldLabel(this, "Label1", "Select ethernet card to capture:", 512, 0);
}

void TForm1::BuildCardBox(const QPalette& system) {
  CardBox = new QComboBox(this);
  CardBox->setObjectName(QStringLiteral("CardBox"));
  CardBox->setEditable(true);
  CardBox->setInsertPolicy(QComboBox::NoInsert);  // typed text never becomes an adapter
  CardBox->setGeometry(512, 16, 361, 21);
  // Enabled, the box is green with text in the active caption colour
  // (deepened where that would not read on the green). After the first
  // Start it is disabled for good, and must look it: the window's ground
  // and a greyed text that still reads.
  const QColor ground(192, 220, 192);
  const QColor text = netvane::Readable(netvane::ActiveCaptionColour(system), ground);
  const QColor face = netvane::ButtonFaceColour(system);
  const QColor greyed = netvane::Readable(netvane::Blend(netvane::WindowTextColour(system), face, 0.5), face);
  QPalette p = CardBox->palette();
  for (const QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive}) {
    p.setColor(g, QPalette::Base, ground);
    p.setColor(g, QPalette::Button, ground);
    p.setColor(g, QPalette::Text, text);
    p.setColor(g, QPalette::ButtonText, text);
  }
  p.setColor(QPalette::Disabled, QPalette::Base, face);
  p.setColor(QPalette::Disabled, QPalette::Button, face);
  p.setColor(QPalette::Disabled, QPalette::Text, greyed);
  p.setColor(QPalette::Disabled, QPalette::ButtonText, greyed);
  CardBox->setPalette(p);
  CardBox->lineEdit()->setPalette(p);
}

// The tab control and, on its one page, the packet list, the tree and the dumps.
void TForm1::BuildPage(const QPalette& system) {
  PageControl1 = new QTabWidget(this);
  PageControl1->setObjectName(QStringLiteral("PageControl1"));
  PageControl1->setFont(netvane::WindowFont(true));
  PageControl1->setGeometry(0, 40, 873, 609);
  TabSheet1 = new QWidget;
  TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
  PageControl1->addTab(TabSheet1, QStringLiteral("Capture Packets"));
  PageControl1->setCurrentWidget(TabSheet1);

  Packets = new TPacketGrid(FModel, system, TabSheet1);
  Packets->setObjectName(QStringLiteral("Packets"));
  Packets->setGeometry(280, 0, 585, 193);

  TV = new QTreeWidget(TabSheet1);
  TV->setObjectName(QStringLiteral("TV"));
  TV->setGeometry(0, 0, 273, 577);
  TV->setHeaderHidden(true);
  TV->setColumnCount(1);
  TV->setIndentation(19);
  TV->setFont(netvane::WindowFont(true));
  const QColor ground(166, 202, 240);
  netvane::SetColours(TV, {QPalette::Base, QPalette::Window}, ground, {QPalette::Text, QPalette::WindowText},
                      netvane::Readable(system.color(QPalette::Text), ground));
  TV->setAutoFillBackground(true);

  // Read-only, without focus or selection; the frame views set it up.
  Packet = Dump(TabSheet1, "Packet", 280, 200, 265, 377);
  Packet->setReadOnly(true);
  PacketASCII = Dump(TabSheet1, "PacketASCII", 552, 200, 313, 377);
  PacketASCII->setEnabled(true);
}

void TForm1::BuildBroadcast() {
  Broadcast = new QCheckBox(QStringLiteral("Don't capture broadcast"), this);
  Broadcast->setObjectName(QStringLiteral("Broadcast"));
  // The substitute face is wider than the one the 161-pixel box was sized
  // for: a semi-condensed cut keeps the whole caption inside it.
  QFont narrow = netvane::WindowFont(true);
  narrow.setStretch(QFont::SemiCondensed);
  Broadcast->setFont(narrow);
  Broadcast->setGeometry(328, 8, 161, 17);
  Broadcast->setChecked(false);
}
