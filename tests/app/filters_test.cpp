// The filters of the main window. The display filter: live frames filtered
// as they come, under their own numbers; a bad expression changes nothing;
// Find and Save see only the shown frames; "Filter on this value" picks the
// frames with the value. The capture filter: checked, remembered, said in
// the title. A row's tool tip.
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "app/capture_filter.h"
#include "app/capture_save.h"
#include "app/display_filter.h"
#include "app/file_job.h"
#include "app/filter_dialog.h"
#include "app/frame_views.h"
#include "app/packet_finder.h"
#include "app/shown_frames.h"
#include "decode/dumps.h"
#include "pcapfile/capture_reader.h"
#include "pcapfile/frame_filter.h"
#include "tests/app/window_fixture.h"
#include "tests/views/message_box_answerer.h"

namespace {

class DisplayFilterTest : public WindowTest {
 protected:
  // Frame k: UDP when k is odd, TCP when even; its IP source names k.
  static Bytes Numbered(uint32_t k) {
    return IpFrame(kHostB, kHostA, k % 2 ? 17 : 6, {10, 0, uint8_t(k >> 8), uint8_t(k)}, {10, 9, 9, 9});
  }
  bool FeedNumbered(uint32_t from, uint32_t to) {
    std::vector<Bytes> batch;
    for (uint32_t k = from; k <= to; ++k) batch.push_back(Numbered(k));
    return Feed(batch);
  }
  TDisplayFilter* Filter() { return form->displayFilter(); }
  bool Apply(const char* expression) {
    QString error;
    if (!Filter()->Apply(QString::fromLatin1(expression), error)) return false;
    return WaitFor([&] { return Filter()->caughtUp(); });
  }
  // The frame numbers the rows show, waiting until `count` rows are listed.
  std::vector<uint32_t> Rows(uint32_t count) {
    form->ListNewFrames();
    WaitFor([&] { return form->packetModel()->listed() >= count; });
    std::vector<uint32_t> numbers;
    for (uint32_t r = 0; r < form->packetModel()->listed(); ++r) {
      EXPECT_EQ(Cell(int(r) + 1, 0).toUInt(), form->packetModel()->NumberAt(int(r)));
      numbers.push_back(form->packetModel()->NumberAt(int(r)));
    }
    return numbers;
  }
  std::string Title() const { return form->windowTitle().toStdString(); }
};

using Numbers = std::vector<uint32_t>;

TEST_F(DisplayFilterTest, ListsMatchingFramesAsTheyComeUnderTheirOwnNumbers) {
  form->Start->click();
  ASSERT_TRUE(FeedNumbered(1, 10));
  ASSERT_TRUE(Apply("udp"));
  EXPECT_EQ(Rows(5), (Numbers{1, 3, 5, 7, 9}));
  EXPECT_EQ(Title(), "Netvane - filter: udp - 5 of 10 frames");

  // Live frames that match are listed as they come.
  ASSERT_TRUE(FeedNumbered(11, 14));
  EXPECT_EQ(Rows(7), (Numbers{1, 3, 5, 7, 9, 11, 13}));
  EXPECT_EQ(Title(), "Netvane - filter: udp - 7 of 14 frames");

  // Another filter at any time; a bad one changes nothing and says libpcap's words.
  ASSERT_TRUE(Apply("tcp and src net 10.0.0.0/24 and not src host 10.0.0.4"));
  const Numbers tcp{2, 6, 8, 10, 12, 14};
  EXPECT_EQ(Rows(6), tcp);
  QString error;
  EXPECT_FALSE(Filter()->Apply(QStringLiteral("tcp port"), error));
  EXPECT_NE(error.indexOf(QStringLiteral("syntax error")), -1) << error.toStdString();
  EXPECT_EQ(Rows(6), tcp);
  EXPECT_EQ(Filter()->expression(), "tcp and src net 10.0.0.0/24 and not src host 10.0.0.4");
  EXPECT_EQ(TDisplayFilter::History().front(), Filter()->expression());

  // A Start after Stop keeps the filter for the new capture.
  form->Stop->click();
  form->Start->click();
  EXPECT_EQ(Rows(0), Numbers{});
  ASSERT_TRUE(FeedNumbered(1, 3));
  EXPECT_EQ(Rows(1), Numbers{2});
  EXPECT_EQ(Title(),
            "Netvane - filter: tcp and src net 10.0.0.0/24 and not src host 10.0.0.4 - 1 of 3 frames");

  // Clearing lists every frame again, and the selected one stays selected.
  ASSERT_TRUE(form->finder()->GoToPacket(2));
  ASSERT_TRUE(Filter()->Apply(QString(), error));
  EXPECT_EQ(Rows(3), (Numbers{1, 2, 3}));
  EXPECT_EQ(Title(), "Netvane");
  EXPECT_EQ(form->Packets->currentIndex().row(), 1);
}

TEST_F(DisplayFilterTest, FindAndSaveSeeOnlyTheShownFrames) {
  // Frames 2, 5 and 7 hold EE EE; 2 is TCP and hidden by "udp".
  for (uint32_t k = 1; k <= 9; ++k) {
    Bytes f = Numbered(k);
    if (k == 2 || k == 5 || k == 7) f[60] = f[61] = 0xEE;
    frames->Append(f.data(), uint32_t(f.size()), {1700000000 + k, k, 0});
  }
  frames->Flush();
  ASSERT_TRUE(Apply("udp"));
  ASSERT_EQ(Rows(5), (Numbers{1, 3, 5, 7, 9}));

  std::string why;
  const auto marker = *netvane::FrameMatcher::Make(netvane::FindKind::HexBytes, "EE EE", false, why);
  TPacketFinder* finder = form->finder();
  const struct {
    uint32_t found;
    bool wrapped;
  } steps[] = {{5, false}, {7, false}, {5, true}};
  for (const auto& s : steps) {
    ASSERT_TRUE(finder->Find(marker, true));
    ASSERT_TRUE(WaitFor([&] { return finder->job() == nullptr; }));
    EXPECT_EQ(finder->lastFound(), s.found);
    EXPECT_EQ(finder->lastWrapped(), s.wrapped);
  }
  EXPECT_FALSE(finder->GoToPacket(2));  // hidden

  QTemporaryDir dir;
  const QString path = dir.filePath("shown.pcap");
  ASSERT_TRUE(form->SaveCaptureFile(path));
  ASSERT_TRUE(WaitFor([&] { return form->fileJob() == nullptr; }));
  netvane::CaptureReader reader;
  ASSERT_TRUE(reader.Open(std::fopen(QFile::encodeName(path).constData(), "rb"))) << reader.error();
  Numbers saved;
  netvane::CaptureRecord record;
  while (reader.Next(record) == netvane::CaptureReader::Step::Frame)
    saved.push_back(uint32_t(record.seconds - 1700000000));
  EXPECT_EQ(saved, (Numbers{1, 3, 5, 7, 9}));
}

// The dialog as a user has it: Return applies; a bad expression is said once,
// over the dialog, which stays open with what was typed.
TEST_F(DisplayFilterTest, ReturnAppliesAndABadExpressionKeepsTheDialogOpen) {
  form->Start->click();
  ASSERT_TRUE(FeedNumbered(1, 4));
  viewtest::MessageBoxAnswerer answerer({QMessageBox::Ok});
  bool stayed = false;
  QTimer::singleShot(0, [&] {
    QComboBox* box = Filter()->dialog()->box();
    QTest::keyClicks(box->lineEdit(), "udp port");
    QTest::keyClick(box->lineEdit(), Qt::Key_Return);
    // The box about it has come and gone.
    stayed = Filter()->dialog()->isVisible() && box->currentText() == "udp port";
    box->lineEdit()->selectAll();
    QTest::keyClicks(box->lineEdit(), "udp");
    QTest::keyClick(box->lineEdit(), Qt::Key_Return);
  });
  Filter()->FilterClick();
  EXPECT_TRUE(stayed);
  ASSERT_EQ(answerer.Seen().size(), 1u);
  EXPECT_EQ(answerer.Seen()[0].text.toStdString(),
            "\"udp port\" is not a filter expression: can't parse filter expression: syntax error.");
  EXPECT_FALSE(Filter()->dialog()->isVisible());
  EXPECT_EQ(Filter()->expression(), "udp");
  EXPECT_EQ(Rows(2), (Numbers{1, 3}));
}

// Each field line with a primitive gives an expression that libpcap's filter
// finds the frame by, and that no longer matches once the field's bytes change.
TEST_F(DisplayFilterTest, FilterOnThisValuePicksTheFramesWithThatValue) {
  Bytes tcp = IpFrame(kHostB, kHostA, 6, {10, 80, 5, 1}, {10, 80, 5, 2});
  tcp[34] = 0x30, tcp[35] = 0x39, tcp[36] = 0x00, tcp[37] = 0x35;  // ports 12345 -> 53
  Bytes udp = tcp;
  udp[23] = 17;
  const struct {
    const char* what;
    Bytes frame;
    int primitives;
  } cases[] = {{"TCP", tcp, 8}, {"UDP", udp, 8}, {"ARP", EtherFrame(kHostB, kHostA, 0x0806, 60), 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TFrameViews* views = form->frameViews();
    views->ShowFrame(c.frame);
    const auto tree = netvane::BuildProtocolTree(c.frame);
    int primitives = 0;
    for (int s = 0; s < form->TV->topLevelItemCount(); ++s) {
      QTreeWidgetItem* section = form->TV->topLevelItem(s);
      for (int l = 0; l < section->childCount(); ++l) {
        const QString expression = views->FilterExpression(section->child(l));
        if (expression.isEmpty()) continue;
        ++primitives;
        SCOPED_TRACE(expression.toStdString());
        netvane::FrameFilter filter;
        std::string error;
        ASSERT_TRUE(filter.Compile(expression.toStdString(), error)) << error;
        EXPECT_TRUE(filter.Matches(c.frame, 0));
        Bytes other = c.frame;
        const auto range = tree.sections[size_t(s)].lines[size_t(l)].range;
        other[range.start / netvane::kHexDumpCharsPerByte + range.count / netvane::kHexDumpCharsPerByte -
              1] ^= 1;
        EXPECT_FALSE(filter.Matches(other, 0));
      }
    }
    EXPECT_EQ(primitives, c.primitives);
  }
  // Chosen in the menu, it applies.
  emit form->frameViews()->filterRequested(QStringLiteral("udp dst port 53"));
  EXPECT_EQ(Filter()->expression(), "udp dst port 53");
}

TEST_F(DisplayFilterTest, ACaptureFilterIsCheckedRememberedAndSaidInTheTitle) {
  TCaptureFilter* capture = form->captureFilter();
  QString error;
  EXPECT_FALSE(capture->Set(QStringLiteral("tcp port"), error));
  EXPECT_NE(error.indexOf(QStringLiteral("syntax error")), -1) << error.toStdString();
  EXPECT_EQ(Title(), "Netvane");
  ASSERT_TRUE(capture->Set(QStringLiteral("tcp"), error));
  EXPECT_EQ(Title(), "Netvane - capture filter: tcp");
  form->Start->click();
  EXPECT_EQ(Title(), "Netvane - capture filter: tcp");
  // While a capture runs, a new one waits for the next Start, and the title says so.
  ASSERT_TRUE(capture->Set(QStringLiteral("udp"), error));
  ASSERT_TRUE(Apply("icmp"));
  EXPECT_EQ(Title(), "Netvane - capture filter from the next Start: udp - filter: icmp - 0 of 0 frames");
  form->Stop->click();
  form->Start->click();
  EXPECT_EQ(Title(), "Netvane - capture filter: udp - filter: icmp - 0 of 0 frames");
  // The next run sets it again; none is remembered once it is cleared.
  Make();
  EXPECT_EQ(form->captureFilter()->expression(), "udp");
  EXPECT_EQ(Title(), "Netvane - capture filter: udp");
  ASSERT_TRUE(form->captureFilter()->Set(QString(), error));
  Make();
  EXPECT_EQ(Title(), "Netvane");
}

// The shown frames over several chunks, handed over in batches that cross
// their edges: every frame is found on its row, and frames between are not.
TEST(ShownFramesTest, RowsAcrossChunks) {
  TShownFrames shown;
  const uint32_t total = 2 * TShownFrames::kChunk + 5;
  std::vector<uint32_t> batch;
  for (uint32_t row = 0; row < total; ++row) {
    batch.push_back(2 * row + 2);
    if (batch.size() == 1000 || row + 1 == total) {
      shown.Append(batch);
      batch.clear();
    }
  }
  ASSERT_EQ(shown.size(), total);
  for (uint32_t row = 0; row < total; ++row) {
    ASSERT_EQ(shown.At(row), 2 * row + 2);
    ASSERT_EQ(shown.RowOf(2 * row + 2), int64_t(row));
    ASSERT_EQ(shown.RowOf(2 * row + 1), -1);
  }
  EXPECT_EQ(shown.RowOf(2 * total + 2), -1);
}

TEST_F(DisplayFilterTest, ARowsToolTipGivesItsTimeAndLengths) {
  const char* tz = std::getenv("TZ");
  const std::string saved = tz ? tz : "";
  setenv("TZ", "UTC", 1);
  tzset();
  const Bytes f = Numbered(1);
  frames->Append(f.data(), uint32_t(f.size()), {1700000000, 42, 1514});
  frames->Flush();
  form->ListNewFrames();
  auto* m = form->packetModel();
  EXPECT_EQ(m->data(m->index(0, 3), Qt::ToolTipRole).toString().toStdString(),
            "Frame 1\n2023-11-14 22:13:20.000042\n1514 bytes on the wire, 74 captured");
  EXPECT_FALSE(m->data(m->index(1, 0), Qt::ToolTipRole).isValid());  // the empty row
  if (tz)
    setenv("TZ", saved.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

}  // namespace
