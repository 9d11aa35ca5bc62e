// The main window's layout: places, sizes, texts, fonts, colours, tab order and
// the state right after creation.
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QStyle>
#include <QTabWidget>
#include <QTableView>
#include <QTextEdit>
#include <QToolButton>
#include <QTreeWidget>

#include "app/contrast.h"
#include "app/fonts.h"
#include "tests/app/window_fixture.h"

namespace {

struct Place {
  const char* name;
  QRect geometry;
};

class LayoutTest : public WindowTest {};

TEST_F(LayoutTest, EveryFixedSizeControlSitsWhereTheLayoutPutsIt) {
  const Place places[] = {
      {"Start", {0, 0, 32, 32}},        {"Pause", {32, 0, 32, 32}},
      {"Stop", {64, 0, 32, 32}},        {"Save", {96, 0, 32, 32}},
      {"About", {128, 0, 32, 32}},      {"Broadcast", {328, 8, 161, 17}},
      {"CardBox", {512, 16, 361, 21}},  {"PageControl1", {0, 40, 873, 609}},
      {"TV", {0, 0, 273, 577}},         {"Packets", {280, 0, 585, 193}},
      {"Packet", {280, 200, 265, 377}}, {"PacketASCII", {552, 200, 313, 377}},
  };
  for (const Place& p : places) {
    auto* w = form->findChild<QWidget*>(QString::fromLatin1(p.name));
    ASSERT_NE(w, nullptr) << p.name;
    EXPECT_EQ(w->geometry(), p.geometry) << p.name;
  }
  // The last four sit on the tab page.
  auto* page = form->findChild<QWidget*>("TabSheet1");
  ASSERT_NE(page, nullptr);
  for (const char* name : {"TV", "Packets", "Packet", "PacketASCII"})
    EXPECT_EQ(form->findChild<QWidget*>(name)->parentWidget(), page) << name;
}

TEST_F(LayoutTest, WindowFitsItsLayoutAndCarriesTitleAndIcon) {
  EXPECT_EQ(form->windowTitle(), "Netvane");
  EXPECT_FALSE(form->windowIcon().isNull());
  EXPECT_EQ(form->pos(), QPoint(72, 48));
  // The client area holds the tab control (0,40 873 x 609) and fits 883 x 681 outside.
  EXPECT_GE(form->width(), 873);
  EXPECT_GE(form->height(), 40 + 609);
  EXPECT_LE(form->width(), 883);
  EXPECT_LE(form->height(), 681);
}

struct LabelCase {
  const char* name;
  QPoint pos;
  const char* text;
};

TEST_F(LayoutTest, LabelsAreBoldAtTheirPlaceAndSizedToTheirText) {
  const LabelCase labels[] = {
      {"Status", {168, 0}, "Captured packets : "},
      {"Captured", {184, 16}, "0"},
      {"Label1", {512, 0}, "Select ethernet card to capture:"},
  };
  for (const LabelCase& c : labels) {
    auto* l = form->findChild<QLabel*>(c.name);
    ASSERT_NE(l, nullptr) << c.name;
    EXPECT_EQ(l->pos(), c.pos) << c.name;
    EXPECT_EQ(l->text(), QString::fromLatin1(c.text)) << c.name;
    EXPECT_TRUE(l->font().bold()) << c.name;
    const int textWidth = QFontMetrics(l->font()).horizontalAdvance(l->text());
    EXPECT_GE(l->width(), textWidth) << c.name;
  }
}

struct TextCase {
  const char* name;
  const char* hint;
};

TEST_F(LayoutTest, ImageButtonsShowPicturesAndHints) {
  const TextCase buttons[] = {{"Start", "Start Capture"},
                              {"Pause", "Pause Capture"},
                              {"Stop", "Stop Capture"},
                              {"Save", "Save packet"},
                              {"About", "About"}};
  for (const TextCase& c : buttons) {
    auto* b = form->findChild<QToolButton*>(c.name);
    ASSERT_NE(b, nullptr) << c.name;
    EXPECT_EQ(b->toolTip(), QString::fromLatin1(c.hint)) << c.name;
    EXPECT_FALSE(b->icon().isNull()) << c.name;
    EXPECT_TRUE(b->text().isEmpty()) << c.name;
  }
}

struct FontCase {
  const char* name;
  const char* family;
  bool bold;
};

TEST_F(LayoutTest, FontsFollowTheLayout) {
  const FontCase fonts[] = {
      {"Form1", netvane::kWindowFamily, false},   {"Broadcast", netvane::kWindowFamily, true},
      {"CardBox", netvane::kWindowFamily, false}, {"PageControl1", netvane::kWindowFamily, true},
      {"TV", netvane::kWindowFamily, true},       {"Packets", netvane::kWindowFamily, false},
      {"Packet", netvane::kDumpFamily, false},    {"PacketASCII", netvane::kDumpFamily, false},
  };
  for (const FontCase& c : fonts) {
    QWidget* w = QString(c.name) == "Form1" ? form.get() : form->findChild<QWidget*>(c.name);
    ASSERT_NE(w, nullptr) << c.name;
    EXPECT_EQ(w->font().family(), QString::fromLatin1(c.family)) << c.name;
    EXPECT_EQ(w->font().bold(), c.bold) << c.name;
    EXPECT_EQ(w->font().pixelSize(), netvane::kFontPixels) << c.name;
  }
  // The faces are really there: the dump face has a fixed pitch.
  EXPECT_TRUE(QFontInfo(form->Packet->font()).fixedPitch());
  EXPECT_EQ(QFontInfo(form->TV->font()).family(), QString::fromLatin1(netvane::kWindowFamily));
}

TEST_F(LayoutTest, ColoursFollowTheLayout) {
  const QPalette card = form->CardBox->palette();
  EXPECT_EQ(card.color(QPalette::Active, QPalette::Base), QColor(192, 220, 192));
  // The active caption colour, deepened where it would not read on the green.
  const QColor caption = netvane::ActiveCaptionColour(QApplication::palette());
  const QColor text = card.color(QPalette::Active, QPalette::Text);
  EXPECT_GE(netvane::ContrastRatio(text, card.color(QPalette::Active, QPalette::Base)),
            netvane::kMinimumContrast);
  EXPECT_NEAR(text.hue(), caption.hue(), 3);
  EXPECT_EQ(form->TV->palette().color(QPalette::Base), QColor(166, 202, 240));
  EXPECT_EQ(form->Packets->palette().color(QPalette::Base),
            QApplication::palette().color(QPalette::ToolTipBase));
  const QColor header = form->Packets->horizontalHeader()->palette().color(QPalette::Button);
  EXPECT_EQ(header, netvane::GradientActiveCaptionColour(QApplication::palette()));
  EXPECT_NE(header, form->palette().color(QPalette::Button));
}

TEST_F(LayoutTest, CaptionsFitTheirFixedSizes) {
  // Wider substitute faces must not cut the check box caption or a column header.
  EXPECT_LE(form->Broadcast->sizeHint().width(), form->Broadcast->width());
  QHeaderView* header = form->Packets->horizontalHeader();
  const int margin = header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
  for (int c = 0; c < 6; ++c) {
    const QString text = header->model()->headerData(c, Qt::Horizontal).toString();
    EXPECT_LE(QFontMetrics(header->font()).horizontalAdvance(text) + 2 * margin, header->sectionSize(c))
        << text.toStdString();
  }
  // The widest texts each column shows, with the cell's margins.
  const int cellMargin =
      2 * (form->Packets->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, form->Packets) + 1);
  struct Widest {
    int column;
    const char* text;
  };
  for (const Widest& w :
       {Widest{0, "1000000"}, Widest{1, "00:0C:29:1A:2B:3C"}, Widest{2, "FF:FF:FF:FF:FF:FF"},
        Widest{3, "255.255.255.255"}, Widest{4, "255.255.255.255"}, Widest{5, "Experimental"}})
    EXPECT_LE(QFontMetrics(form->Packets->font()).horizontalAdvance(w.text) + cellMargin,
              form->Packets->columnWidth(w.column))
        << w.text;
}

TEST_F(LayoutTest, ControlsHaveTheirSettings) {
  EXPECT_EQ(form->Broadcast->text(), "Don't capture broadcast");
  EXPECT_FALSE(form->Broadcast->isChecked());
  EXPECT_TRUE(form->CardBox->isEditable());
  EXPECT_EQ(form->PageControl1->count(), 1);
  EXPECT_EQ(form->PageControl1->tabText(0), "Capture Packets");
  EXPECT_EQ(form->PageControl1->currentWidget(), form->TabSheet1);
  EXPECT_EQ(form->TV->indentation(), 19);
  EXPECT_TRUE(form->PacketASCII->isEnabled());
  for (QTextEdit* e : {form->Packet, form->PacketASCII}) {
    EXPECT_EQ(e->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_TRUE(e->toPlainText().isEmpty());
  }
  QTableView* grid = form->Packets;
  EXPECT_EQ(grid->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_NE(grid->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(grid->verticalHeader()->defaultSectionSize(), 18);
  EXPECT_EQ(grid->verticalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
  EXPECT_FALSE(grid->verticalHeader()->isVisible() && form->isVisible());
  const int widths[] = {54, 107, 107, 94, 92, 104};
  const char* headers[] = {"Packet Nr", "Source Card",    "Destination Card",
                           "Source IP", "Destination IP", "Protocol"};
  ASSERT_EQ(grid->model()->columnCount(), 6);
  for (int c = 0; c < 6; ++c) {
    EXPECT_EQ(grid->columnWidth(c), widths[c]) << c;
    EXPECT_EQ(grid->model()->headerData(c, Qt::Horizontal).toString(), QString::fromLatin1(headers[c])) << c;
  }
}

TEST_F(LayoutTest, TabOrderRunsFromTheAdapterBoxThroughThePageToTheCheckBox) {
  const QStringList expected = {"CardBox", "PageControl1", "Packets", "TV", "PacketASCII", "Broadcast"};
  QStringList named = expected;
  named << "Start"
        << "Pause"
        << "Stop"
        << "Save"
        << "About"
        << "Packet"
        << "Status"
        << "Captured"
        << "Label1";
  QStringList seen;
  QWidget* w = form->CardBox;
  for (int i = 0; i < 500; ++i) {
    if (named.contains(w->objectName()) && w->focusPolicy() != Qt::NoFocus && w->isEnabled() &&
        !seen.contains(w->objectName()))
      seen << w->objectName();
    w = w->nextInFocusChain();
    if (w == form->CardBox) break;
  }
  EXPECT_EQ(seen, expected);
}

TEST_F(LayoutTest, AfterCreationTheWindowIsIdle) {
  EXPECT_EQ(form->Status->text(), kCapturingStatus);
  EXPECT_TRUE(form->CardBox->isEnabled());
  EXPECT_EQ(GridRows(), 2);  // header row and one empty row
  for (int c = 0; c < 6; ++c) EXPECT_TRUE(Cell(1, c).isEmpty());
  EXPECT_EQ(frames->Count(), 0u);
  EXPECT_EQ(frames->Current(), 0u);
  EXPECT_FALSE(fake->threadRunning());
  EXPECT_FALSE(fake->isBound());
}

}  // namespace
