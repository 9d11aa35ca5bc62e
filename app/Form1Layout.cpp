// The main window's controls: places, sizes, texts, colours, fonts, tab order.
#include "app/Form1.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <QTableView>
#include <QTextEdit>
#include <QToolButton>
#include <QTreeWidget>

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
constexpr int kColumnWidths[] = {54, 107, 107, 94, 92, 104};
constexpr int kRowHeight = 18;

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

void SetBackground(QWidget* w, const QColor& colour) {
  QPalette p = w->palette();
  p.setColor(QPalette::Base, colour);
  p.setColor(QPalette::Window, colour);
  w->setPalette(p);
  w->setAutoFillBackground(true);
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

  Start = ImageButton(this, "Start", netvane::StartPicture(), "Start Capture", 0);
  Pause = ImageButton(this, "Pause", netvane::PausePicture(), "Pause Capture", 32);
  Stop = ImageButton(this, "Stop", netvane::StopPicture(), "Stop Capture", 64);
  Save = ImageButton(this, "Save", netvane::SavePicture(), "Save packet", 96);
  About = ImageButton(this, "About", netvane::AppIconPixmap(28), "About", 128);

  Status = BoldLabel(this, "Status", "Captured packets : ", 168, 0);
  Captured = BoldLabel(this, "Captured", "0", 184, 16);

  Label1 = BoldLabel(this, "Label1", "Select ethernet card to capture:", 512, 0);

  CardBox = new QComboBox(this);
  CardBox->setObjectName(QStringLiteral("CardBox"));
  CardBox->setEditable(true);
  CardBox->setInsertPolicy(QComboBox::NoInsert);  // typed text never becomes an adapter
  CardBox->setGeometry(512, 16, 361, 21);
  {
    QPalette p = CardBox->palette();
    const QColor text = netvane::ActiveCaptionColour(system);
    p.setColor(QPalette::Base, QColor(192, 220, 192));
    p.setColor(QPalette::Button, QColor(192, 220, 192));
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::ButtonText, text);
    CardBox->setPalette(p);
    CardBox->lineEdit()->setPalette(p);
  }

  PageControl1 = new QTabWidget(this);
  PageControl1->setObjectName(QStringLiteral("PageControl1"));
  PageControl1->setFont(netvane::WindowFont(true));
  PageControl1->setGeometry(0, 40, 873, 609);
  TabSheet1 = new QWidget;
  TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
  PageControl1->addTab(TabSheet1, QStringLiteral("Capture Packets"));
  PageControl1->setCurrentWidget(TabSheet1);

  Packets = new QTableView(TabSheet1);
  Packets->setObjectName(QStringLiteral("Packets"));
  Packets->setGeometry(280, 0, 585, 193);
  // Semi-condensed, so that a hardware address (17 characters) and a dotted
  // address of 15 fit their columns in the substitute face.
  QFont cells = netvane::WindowFont(false);
  cells.setStretch(QFont::SemiCondensed);
  Packets->setFont(cells);
  Packets->setModel(FModel);
  Packets->setSelectionBehavior(QAbstractItemView::SelectItems);
  Packets->setSelectionMode(QAbstractItemView::SingleSelection);
  Packets->setEditTriggers(QAbstractItemView::NoEditTriggers);
  Packets->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Packets->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  Packets->setWordWrap(false);
  Packets->setCornerButtonEnabled(false);
  Packets->setSortingEnabled(false);
  // Every row has the same fixed height: the view never measures a row, which
  // keeps scrolling and appending cheap with a million rows.
  QHeaderView* rows = Packets->verticalHeader();
  rows->hide();
  rows->setMinimumSectionSize(1);
  rows->setSectionResizeMode(QHeaderView::Fixed);
  rows->setDefaultSectionSize(kRowHeight);
  QHeaderView* header = Packets->horizontalHeader();
  header->setMinimumSectionSize(1);
  header->setSectionResizeMode(QHeaderView::Fixed);
  header->setStretchLastSection(false);
  header->setHighlightSections(false);
  header->setSectionsClickable(false);
  header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  header->setFixedHeight(kRowHeight);
  // Condensed, so that "Packet Nr" fits its 54-pixel column with the margins.
  QFont headerFont = netvane::WindowFont(false);
  headerFont.setStretch(QFont::Condensed);
  header->setFont(headerFont);
  for (int c = 0; c < 6; ++c) header->resizeSection(c, kColumnWidths[c]);
  {
    QPalette p = Packets->palette();
    p.setColor(QPalette::Base, netvane::TooltipBackgroundColour(system));
    p.setColor(QPalette::AlternateBase, netvane::TooltipBackgroundColour(system));
    Packets->setPalette(p);
    QPalette h = header->palette();
    h.setColor(QPalette::Button, netvane::GradientActiveCaptionColour(system));
    h.setColor(QPalette::Window, netvane::GradientActiveCaptionColour(system));
    header->setPalette(h);
    header->setAutoFillBackground(true);
  }

  TV = new QTreeWidget(TabSheet1);
  TV->setObjectName(QStringLiteral("TV"));
  TV->setGeometry(0, 0, 273, 577);
  TV->setHeaderHidden(true);
  TV->setColumnCount(1);
  TV->setIndentation(19);
  TV->setFont(netvane::WindowFont(true));
  SetBackground(TV, QColor(166, 202, 240));

  Packet = Dump(TabSheet1, "Packet", 280, 200, 265, 377);
  Packet->setReadOnly(true);
  Packet->setEnabled(false);  // shows text, takes no input or focus
  PacketASCII = Dump(TabSheet1, "PacketASCII", 552, 200, 313, 377);
  PacketASCII->setEnabled(true);

  // The check box comes last in the tab order.
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
