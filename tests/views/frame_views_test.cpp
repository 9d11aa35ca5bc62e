// The dumps, the protocol tree and the highlight, driven as the main window drives them.
#include "app/frame_views.h"

#include <QApplication>
#include <QScrollBar>
#include <QStyle>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include "app/fonts.h"
#include "test_frames.h"

using namespace viewtest;

namespace {

struct Span {
  int start;
  int count;
};

// Positions of characters whose colour is not black (no colour set counts as
// black: the disabled box's palette is black).
std::vector<std::pair<int, QColor>> ColouredChars(QTextEdit* box) {
  std::vector<std::pair<int, QColor>> out;
  for (QTextBlock b = box->document()->begin(); b.isValid(); b = b.next()) {
    for (auto it = b.begin(); !it.atEnd(); ++it) {
      const QTextFragment frag = it.fragment();
      const QTextCharFormat f = frag.charFormat();
      if (!f.hasProperty(QTextFormat::ForegroundBrush)) continue;
      const QColor c = f.foreground().color();
      if (c == QColor(Qt::black)) continue;
      for (int i = 0; i < frag.length(); ++i) out.emplace_back(frag.position() + i, c);
    }
  }
  return out;
}

std::vector<int> BluePositions(QTextEdit* box) {
  std::vector<int> out;
  for (const auto& [pos, colour] : ColouredChars(box)) {
    EXPECT_EQ(colour, QColor(Qt::blue)) << "character " << pos;
    out.push_back(pos);
  }
  return out;
}

std::vector<int> Positions(Span s) {
  std::vector<int> v;
  for (int i = 0; i < s.count; ++i) v.push_back(s.start + i);
  return v;
}

QString Hex(const Bytes& f) {
  QString s;
  for (uint8_t b : f) s += QString::asprintf("%02X ", b);
  return s;
}

struct Shape {
  QString title;
  int lines;
};

std::vector<Shape> TreeShape(QTreeWidget* tv) {
  std::vector<Shape> out;
  for (int i = 0; i < tv->topLevelItemCount(); ++i) {
    out.push_back({tv->topLevelItem(i)->text(0), tv->topLevelItem(i)->childCount()});
  }
  return out;
}

class FrameViewsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host.resize(900, 600);
    Packet = new QTextEdit(&host);
    Packet->setGeometry(280, 0, 265, 377);
    PacketASCII = new QTextEdit(&host);
    PacketASCII->setGeometry(552, 0, 313, 377);
    TV = new QTreeWidget(&host);
    TV->setGeometry(0, 0, 273, 577);
    views = std::make_unique<TFrameViews>(Packet, PacketASCII, TV);
    views->InitialTree();
    host.show();
  }

  QTreeWidgetItem* Line(int section, int line) { return TV->topLevelItem(section)->child(line); }

  // A real left click on the row, through the tree's own mouse handling.
  void Click(QTreeWidgetItem* item) {
    TV->scrollToItem(item);
    const QRect r = TV->visualItemRect(item);
    ASSERT_TRUE(r.isValid());
    QTest::mouseClick(TV->viewport(), Qt::LeftButton, {}, r.center());
  }

  QWidget host;
  QTextEdit* Packet;
  QTextEdit* PacketASCII;
  QTreeWidget* TV;
  std::unique_ptr<TFrameViews> views;
};

TEST_F(FrameViewsTest, BeforeTheFirstFrameTheTreeHoldsThreeEmptySectionsAndClicksShowNothing) {
  const std::vector<Shape> shape = TreeShape(TV);
  ASSERT_EQ(shape.size(), 3u);
  EXPECT_EQ(shape[0].title, "Ethernet Header");
  EXPECT_EQ(shape[1].title, "IP Header");
  EXPECT_EQ(shape[2].title, "TCP Header");
  for (const Shape& s : shape) EXPECT_EQ(s.lines, 0);
  for (int i = 0; i < 3; ++i) {
    Click(TV->topLevelItem(i));
    EXPECT_FALSE(views->Highlight().has_value());
  }
  TV->clearSelection();
  views->TVClick();
  EXPECT_TRUE(Packet->toPlainText().isEmpty());
  EXPECT_TRUE(PacketASCII->toPlainText().isEmpty());
  EXPECT_FALSE(views->Highlight().has_value());
}

TEST_F(FrameViewsTest, ShowingAFrameFillsBothDumpsAndRebuildsTheTree) {
  struct Case {
    const char* name;
    Bytes frame;
    std::vector<Shape> shape;
  };
  const std::vector<Case> cases = {
      {"tcp", TcpFrame(), {{"Ethernet Header", 3}, {"IP Header", 13}, {"TCP Header", 14}}},
      {"udp", UdpFrame(), {{"Ethernet Header", 3}, {"IP Header", 13}, {"UDP Header", 4}}},
      {"icmp", IcmpFrame(), {{"Ethernet Header", 3}, {"IP Header", 13}}},
      {"arp", ArpFrame(), {{"Ethernet Header", 3}, {"Address Resolution Protocol", 9}}},
      {"ipv6", Ipv6Frame(), {{"Ethernet Header", 3}}},
      // Sections whose header is incomplete are left out.
      {"tcp cut inside tcp", Cut(TcpFrame(), 40), {{"Ethernet Header", 3}, {"IP Header", 13}}},
      {"ip cut inside ip", Cut(TcpFrame(), 20), {{"Ethernet Header", 3}}},
      {"ethernet only", Cut(TcpFrame(), 14), {{"Ethernet Header", 3}}},
      {"runt", Cut(TcpFrame(), 5), {}},
      {"empty", Bytes{}, {}},
      // The same TCP frame again after the short ones: everything comes back.
      {"tcp again", TcpFrame(), {{"Ethernet Header", 3}, {"IP Header", 13}, {"TCP Header", 14}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    views->ShowFrame(c.frame);
    EXPECT_EQ(Packet->toPlainText(), Hex(c.frame));
    EXPECT_EQ(views->HexText(), Hex(c.frame));
    EXPECT_EQ(views->HexText().size(), 3 * static_cast<qsizetype>(c.frame.size()));
    const std::vector<Shape> shape = TreeShape(TV);
    ASSERT_EQ(shape.size(), c.shape.size());
    for (size_t i = 0; i < shape.size(); ++i) {
      EXPECT_EQ(shape[i].title, c.shape[i].title);
      EXPECT_EQ(shape[i].lines, c.shape[i].lines);
      EXPECT_TRUE(TV->topLevelItem(static_cast<int>(i))->isExpanded());
    }
    EXPECT_TRUE(TV->selectedItems().isEmpty());
    EXPECT_EQ(TV->currentItem(), nullptr);
    EXPECT_FALSE(views->Highlight().has_value());
  }
}

TEST_F(FrameViewsTest, FieldLinesShowTheDecodedTexts) {
  views->ShowFrame(TcpFrame());
  struct Case {
    int section, line;
    const char* text;
  };
  const Case cases[] = {
      {0, 0, "Destination Address - 00:0C:29:1A:2B:3C"},
      {0, 2, "Protocol - 0x0800"},
      {1, 0, "Version - 0x4"},
      {1, 9, "Protocol - 6 : TCP"},
      {1, 11, "Source Address - 192.168.1.10"},
      {2, 0, "Source Port - 1234"},
      {2, 6, "Flag : ACK - 1"},
      {2, 9, "Flag : SYN - 1"},
      {2, 10, "Flag : FINISH - 0"},
  };
  for (const Case& c : cases) EXPECT_EQ(Line(c.section, c.line)->text(0), c.text);
}

TEST_F(FrameViewsTest, TextDumpShowsEveryByteAsItsOwnCharacter) {
  // 0x00 shows as ".", like 0x2E; control characters and high bytes stay
  // themselves (Latin-1); a line feed breaks the line.
  const Bytes frame = {0x00, 0x2E, 'A', 0x01, 0x1B, 0x7F, 0xE9, 0xFF, 0x0A, 'z', 0x09, 0xAB};
  views->ShowFrame(frame);
  const QString raw = PacketASCII->document()->toRawText();
  const QString expected = QString::fromLatin1("..A\x01\x1B\x7F\xE9\xFF") + QChar::ParagraphSeparator +
                           QString::fromLatin1("z\x09\xAB");
  EXPECT_EQ(raw, expected);
  EXPECT_EQ(PacketASCII->document()->blockCount(), 2);
  EXPECT_EQ(views->HexText(), "00 2E 41 01 1B 7F E9 FF 0A 7A 09 AB ");
}

TEST_F(FrameViewsTest, CarriageReturnAndLineFeedBreakTheTextDumpLine) {
  views->ShowFrame(Bytes{'a', 0x0D, 0x0A, 'b'});
  EXPECT_EQ(PacketASCII->document()->blockCount(), 2);
  EXPECT_EQ(PacketASCII->document()->findBlockByNumber(1).text(), "b");
  EXPECT_EQ(views->HexText(), "61 0D 0A 62 ");
}

TEST_F(FrameViewsTest, ClickingAFieldLineColoursExactlyItsCharacters) {
  struct Case {
    const char* name;
    Bytes frame;
    int section, line;
    Span expected;
  };
  const std::vector<Case> cases = {
      {"ethernet destination", TcpFrame(), 0, 0, {0, 18}},
      {"ethernet source", TcpFrame(), 0, 1, {18, 18}},
      {"ethernet type", TcpFrame(), 0, 2, {36, 6}},
      {"ip version", TcpFrame(), 1, 0, {42, 1}},
      {"ip header length", TcpFrame(), 1, 1, {43, 2}},
      {"ip more fragments", TcpFrame(), 1, 6, {60, 1}},
      {"ip fragment offset", TcpFrame(), 1, 7, {60, 6}},
      {"ip destination", TcpFrame(), 1, 12, {90, 12}},
      {"tcp source port", TcpFrame(), 2, 0, {102, 6}},
      {"tcp offset", TcpFrame(), 2, 4, {138, 1}},
      {"tcp syn", TcpFrame(), 2, 9, {141, 3}},
      {"tcp urgent pointer", TcpFrame(), 2, 13, {156, 6}},
      {"udp checksum", UdpFrame(), 2, 3, {120, 6}},
      {"udp length", UdpFrame(), 2, 2, {114, 6}},
      {"arp operation", ArpFrame(), 1, 4, {60, 6}},
      {"arp source hardware", ArpFrame(), 1, 5, {66, 18}},
      {"arp target protocol", ArpFrame(), 1, 8, {114, 12}},
      // With IP options the transport header, and its ranges, move 4 bytes on.
      {"tcp after ip options", TcpFrame(6), 2, 0, {114, 6}},
      {"tcp syn after ip options", TcpFrame(6), 2, 9, {153, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    views->ShowFrame(c.frame);
    Click(Line(c.section, c.line));
    EXPECT_EQ(BluePositions(Packet), Positions(c.expected));
    EXPECT_TRUE(ColouredChars(PacketASCII).empty());
    ASSERT_TRUE(views->Highlight().has_value());
    EXPECT_EQ(views->Highlight()->start, static_cast<uint32_t>(c.expected.start));
  }
}

TEST_F(FrameViewsTest, ASecondClickReturnsTheFirstRangeToBlack) {
  views->ShowFrame(TcpFrame());
  Click(Line(2, 9));
  EXPECT_EQ(BluePositions(Packet), Positions({141, 3}));
  Click(Line(0, 1));
  EXPECT_EQ(BluePositions(Packet), Positions({18, 18}));
  // Overlapping ranges: the shared character stays blue, the rest turns black.
  Click(Line(1, 7));
  EXPECT_EQ(BluePositions(Packet), Positions({60, 6}));
  Click(Line(1, 5));
  EXPECT_EQ(BluePositions(Packet), Positions({60, 1}));
}

TEST_F(FrameViewsTest, SectionNodeClickKeepsTheHighlight) {
  views->ShowFrame(UdpFrame());
  Click(Line(2, 0));
  for (int s = 0; s < 3; ++s) {
    Click(TV->topLevelItem(s));
    EXPECT_EQ(BluePositions(Packet), Positions({102, 6}));
  }
}

TEST_F(FrameViewsTest, ClickWithNothingSelectedOnlyRemovesTheHighlight) {
  views->ShowFrame(ArpFrame());
  Click(Line(1, 6));
  ASSERT_EQ(BluePositions(Packet), Positions({84, 12}));
  TV->clearSelection();
  views->TVClick();
  EXPECT_TRUE(BluePositions(Packet).empty());
  EXPECT_FALSE(views->Highlight().has_value());
}

TEST_F(FrameViewsTest, AFreshlyShownFrameHasNoColouredCharacters) {
  views->ShowFrame(TcpFrame());
  Click(Line(0, 0));
  ASSERT_FALSE(BluePositions(Packet).empty());
  views->ShowFrame(ArpFrame());
  EXPECT_TRUE(ColouredChars(Packet).empty());
  // Right after the rebuild nothing is selected, so a click in the tree's
  // empty space colours nothing.
  QTest::mouseClick(TV->viewport(), Qt::LeftButton, {}, QPoint(10, TV->viewport()->height() - 3));
  EXPECT_TRUE(ColouredChars(Packet).empty());
}

TEST_F(FrameViewsTest, ColourAndRemoveKeepAtMostOneRange) {
  views->ShowFrame(TcpFrame());
  views->ColourRange({141, 3});
  views->RemoveHighlight();
  views->ColourRange({0, 18});
  EXPECT_EQ(BluePositions(Packet), Positions({0, 18}));
  // Colouring without a removal first still replaces the old range.
  views->ColourRange({150, 6});
  EXPECT_EQ(BluePositions(Packet), Positions({150, 6}));
  // A range running past the text is cut at its end; one wholly beyond it colours nothing.
  const int size = static_cast<int>(views->HexText().size());
  views->ColourRange({static_cast<uint32_t>(size - 4), 50});
  EXPECT_EQ(BluePositions(Packet), Positions({size - 4, 4}));
  views->ColourRange({static_cast<uint32_t>(size + 10), 5});
  EXPECT_TRUE(BluePositions(Packet).empty());
  views->RemoveHighlight();
  EXPECT_TRUE(ColouredChars(Packet).empty());
}

TEST_F(FrameViewsTest, TheHexDumpTakesNoFocusFromAClickAndKeepsNoUndo) {
  views->ShowFrame(TcpFrame());
  host.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&host));
  // A click gives the text dump the focus; a click on the hex dump leaves it there.
  QTest::mouseClick(PacketASCII->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
  ASSERT_EQ(QApplication::focusWidget(), PacketASCII);
  QTest::mouseClick(Packet->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
  EXPECT_EQ(QApplication::focusWidget(), PacketASCII);
  // Colouring must not pile up undo steps in the hex dump.
  for (int i = 0; i < 5; ++i) Click(Line(2, i));
  EXPECT_FALSE(Packet->document()->isUndoAvailable());
}

TEST_F(FrameViewsTest, EveryTreeLineIsShownWhole) {
  TV->setFont(netvane::WindowFont(true));  // the main window's bold tree face
  views->ShowFrame(TcpFrame());
  QApplication::processEvents();
  // The item view's text margin on either side, as in Qt's common style.
  const int margin = 2 * (TV->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, TV) + 1);
  const QFontMetrics metrics(TV->font());
  int widest = 0;
  for (int s = 0; s < TV->topLevelItemCount(); ++s) {
    for (int l = 0; l < TV->topLevelItem(s)->childCount(); ++l) {
      QTreeWidgetItem* item = Line(s, l);
      const int needed = metrics.horizontalAdvance(item->text(0)) + margin;
      EXPECT_LE(needed, TV->visualItemRect(item).width()) << item->text(0).toStdString();
      widest = std::max(widest, TV->visualItemRect(item).right());
    }
  }
  // The Ethernet address lines are wider than the view in this face; they
  // can be scrolled into it.
  ASSERT_GT(widest, TV->viewport()->width());
  EXPECT_GT(TV->horizontalScrollBar()->maximum(), 0);
}

}  // namespace
