// The packet list: rows from stored frames, the broadcast rule, numbering
// across Pause and Stop, Clear, selection, batching; the model's consistency.
#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>

#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTreeWidget>

#include "app/About.h"
#include "app/Form2.h"
#include "app/frame_views.h"
#include "decode/dumps.h"
#include "decode/packet_row.h"
#include "pcapfile/storage_budget.h"
#include "tests/app/window_fixture.h"

namespace {

class PacketListTest : public WindowTest {
 protected:
  void StartCapture() {
    PressStart();
    ASSERT_TRUE(Capturing());
  }
  // A numbered IP/UDP frame: its source IP names `k`.
  static Bytes Numbered(int k) {
    return IpFrame(kHostB, kHostA, 17, {10, 0, uint8_t(k >> 8), uint8_t(k)}, {10, 9, 9, 9});
  }
  static QString NumberedSource(int k) { return QString("10.0.%1.%2").arg(k >> 8).arg(k & 255); }
};

TEST_F(PacketListTest, AStoredFrameFillsTheEmptyRowAndTheCounter) {
  StartCapture();
  const Bytes frame = IpFrame(kHostB, kHostA, 6, {192, 168, 1, 10}, {10, 0, 0, 255});
  ASSERT_TRUE(Feed({frame}));
  EXPECT_EQ(GridRows(), 3);
  EXPECT_EQ(form->Captured->text(), "1");
  const auto expected = netvane::PacketRow(frame, 1);
  for (int c = 0; c < 6; ++c) EXPECT_EQ(Cell(1, c).toStdString(), expected[size_t(c)]) << c;
  EXPECT_EQ(Cell(1, 0), "1");
  EXPECT_EQ(Cell(1, 1), "00:0C:29:1A:2B:3C");
  EXPECT_EQ(Cell(1, 3), "192.168.1.10");
  EXPECT_EQ(Cell(1, 5), "IP/TCP");
  for (int c = 0; c < 6; ++c) EXPECT_TRUE(Cell(2, c).isEmpty()) << "bottom row stays empty";
  // The stored bytes are the frame's own copy.
  const auto stored = frames->Frame(1);
  EXPECT_EQ(Bytes(stored.begin(), stored.end()), frame);
}

TEST_F(PacketListTest, BroadcastRule) {
  struct Case {
    const char* what;
    bool checked;
    Bytes frame;
    bool stored;
  };
  const Case cases[] = {
      {"broadcast, box checked", true, EtherFrame(kBroadcastMac, kHostA, 0x0806), false},
      {"broadcast, box clear", false, EtherFrame(kBroadcastMac, kHostA, 0x0806), true},
      {"FF:FF:FF:FF:FF:FE, box checked", true,
       EtherFrame({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}, kHostA, 0x0800), true},
      {"multicast, box checked", true, EtherFrame({0x01, 0x00, 0x5E, 0x00, 0x00, 0x01}, kHostA, 0x0800),
       true},
      {"unicast, box checked", true, EtherFrame(kHostB, kHostA, 0x0800), true},
      {"4-byte frame of FF, box checked", true, Bytes(4, 0xFF), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Make();
    StartCapture();
    form->Broadcast->setChecked(c.checked);
    const Bytes before = Numbered(1), after = Numbered(2);
    ASSERT_TRUE(Feed({before, c.frame, after}));
    // A dropped frame leaves no trace: no entry, no number, no row.
    const uint32_t expected = c.stored ? 3 : 2;
    EXPECT_EQ(frames->Count(), expected);
    EXPECT_EQ(GridRows(), int(expected) + 2);
    EXPECT_EQ(form->Captured->text(), QString::number(expected));
    EXPECT_EQ(Cell(int(expected), 0), QString::number(expected));
    EXPECT_EQ(Cell(int(expected), 3), NumberedSource(2));
    if (c.stored) {
      const auto mid = frames->Frame(2);
      EXPECT_EQ(Bytes(mid.begin(), mid.end()), c.frame);
    }
  }
}

TEST_F(PacketListTest, NumberingGoesOnAfterPauseAndRestartsAfterStop) {
  StartCapture();
  ASSERT_TRUE(Feed({Numbered(1), Numbered(2)}));
  form->Pause->click();
  form->Start->click();
  ASSERT_TRUE(Feed({Numbered(3)}));
  EXPECT_EQ(GridRows(), 5);
  EXPECT_EQ(Cell(3, 0), "3");
  EXPECT_EQ(Cell(3, 3), NumberedSource(3));

  form->Stop->click();
  StartDiscarding();
  // Start after Stop: header and one empty row; the counter keeps its last value.
  EXPECT_EQ(GridRows(), 2);
  EXPECT_EQ(frames->Count(), 0u);
  EXPECT_EQ(frames->Current(), 0u);
  EXPECT_EQ(form->Captured->text(), "3");
  for (int c = 0; c < 6; ++c) EXPECT_TRUE(Cell(1, c).isEmpty());

  ASSERT_TRUE(Feed({Numbered(7)}));
  EXPECT_EQ(Cell(1, 0), "1");
  EXPECT_EQ(Cell(1, 3), NumberedSource(7));
  EXPECT_EQ(form->Captured->text(), "1");
  EXPECT_EQ(GridRows(), 3);
}

TEST_F(PacketListTest, StartAfterStopWithNothingStoredLeavesAnEmptyList) {
  viewtest::MessageBoxAnswerer answers({});
  StartCapture();
  form->Stop->click();
  form->Start->click();
  form->Stop->click();
  form->Start->click();
  EXPECT_TRUE(answers.Seen().empty()) << "nothing to save, nothing asked";
  EXPECT_EQ(GridRows(), 2);
  EXPECT_EQ(form->Captured->text(), "0");
  EXPECT_TRUE(Capturing());
}

TEST_F(PacketListTest, ClearListsWhatWasStoredBeforeItDropsIt) {
  // Frames stored but not yet listed when Stop is pressed still set the counter.
  StartCapture();
  const int target = fake->Delivered() + 3;
  fake->Queue({Numbered(1), Numbered(2), Numbered(3)});
  // Wait without running the event loop: nothing is listed yet.
  for (int i = 0; i < 2500 && fake->Delivered() < target; ++i) QThread::msleep(2);
  ASSERT_EQ(fake->Delivered(), target);
  EXPECT_EQ(form->Captured->text(), "0");
  form->Stop->click();
  StartDiscarding();
  EXPECT_EQ(form->Captured->text(), "3");
  EXPECT_EQ(GridRows(), 2);
  QCoreApplication::processEvents();  // the queued listing call finds nothing new
  EXPECT_EQ(GridRows(), 2);
  EXPECT_EQ(form->Captured->text(), "3");
}

TEST_F(PacketListTest, OneTurnOfFramesIsListedInOneBatchInArrivalOrder) {
  StartCapture();
  QSignalSpy inserted(form->packetModel(), &QAbstractItemModel::rowsInserted);
  std::vector<Bytes> batch;
  for (int k = 1; k <= 600; ++k) batch.push_back(Numbered(k));
  const int target = fake->Delivered() + 600;
  fake->Queue(batch);
  for (int i = 0; i < 2500 && fake->Delivered() < target; ++i) QThread::msleep(2);
  ASSERT_EQ(fake->Delivered(), target);
  EXPECT_EQ(inserted.count(), 0);  // the worker touches no view
  ASSERT_TRUE(WaitFor([&] { return form->packetModel()->listed() == 600; }));
  EXPECT_EQ(inserted.count(), 1);
  for (int k : {1, 2, 255, 256, 599, 600}) {
    EXPECT_EQ(Cell(k, 0), QString::number(k));
    EXPECT_EQ(Cell(k, 3), NumberedSource(k));
  }
  EXPECT_EQ(form->Captured->text(), "600");
}

TEST_F(PacketListTest, SelectingARowFindsItsFrame) {
  StartCapture();
  ASSERT_TRUE(Feed({Numbered(1), Numbered(2), Numbered(3)}));
  auto* m = form->packetModel();
  for (int col = 0; col < 6; ++col) {
    SCOPED_TRACE(col);
    const int row = 1 + col % 3;  // grid row 1..3
    form->Packets->setCurrentIndex(m->index(row - 1, col));
    EXPECT_EQ(frames->Current(), uint32_t(row));
  }
  form->Packets->setCurrentIndex(m->index(1, 2));
  ASSERT_EQ(frames->Current(), 2u);
  // The empty bottom row holds no frame: nothing changes.
  form->Packets->setCurrentIndex(m->index(3, 0));
  EXPECT_EQ(frames->Current(), 2u);
  // Direct calls: the header row and rows past the list are misses too.
  for (int row : {0, -1, 4, 100}) {
    form->PacketsSelectCell(0, row);
    EXPECT_EQ(frames->Current(), 2u) << row;
  }
}

TEST_F(PacketListTest, FocusAloneSelectsNothingMovingWithTheKeysShowsTheRowMovedTo) {
  StartCapture();
  ASSERT_TRUE(Feed({Numbered(1), Numbered(2), Numbered(3)}));
  // Tabbing into the list: no cell becomes current, the save's entry stays.
  QFocusEvent tabbedIn(QEvent::FocusIn, Qt::TabFocusReason);
  QApplication::sendEvent(form->Packets, &tabbedIn);
  EXPECT_FALSE(form->Packets->currentIndex().isValid());
  EXPECT_EQ(frames->Current(), 0u);
  EXPECT_TRUE(form->Packet->toPlainText().isEmpty());
  struct Step {
    int key;
    Qt::KeyboardModifiers modifiers;
    uint32_t shown;  // the entry shown afterwards
  };
  const Step steps[] = {
      {Qt::Key_Down, {}, 1},  // from no current cell to the first row
      {Qt::Key_Down, {}, 2},     {Qt::Key_End, Qt::ControlModifier, 2},  // the empty bottom row: a miss
      {Qt::Key_Up, {}, 3},       {Qt::Key_Home, Qt::ControlModifier, 1},
      {Qt::Key_PageDown, {}, 1},  // the empty bottom row again
      {Qt::Key_PageUp, {}, 1},
  };
  for (const Step& s : steps) {
    QTest::keyClick(form->Packets, static_cast<Qt::Key>(s.key), s.modifiers);
    EXPECT_EQ(frames->Current(), s.shown) << QKeySequence(s.key | s.modifiers).toString().toStdString();
    EXPECT_EQ(form->Packet->toPlainText(), QString::fromStdString(netvane::HexDump(Numbered(int(s.shown)))));
  }
}

TEST_F(PacketListTest, SelectionWhileNothingIsStoredDoesNothing) {
  form->Packets->setCurrentIndex(form->packetModel()->index(0, 0));
  form->PacketsSelectCell(0, 1);
  EXPECT_EQ(frames->Current(), 0u);
}

TEST_F(PacketListTest, FramesNotYetListedCannotBeSelected) {
  StartCapture();
  ASSERT_TRUE(Feed({Numbered(1)}));
  const int target = fake->Delivered() + 1;
  fake->Queue({Numbered(2)});
  for (int i = 0; i < 2500 && fake->Delivered() < target; ++i) QThread::msleep(2);
  ASSERT_EQ(frames->Count(), 2u);
  form->PacketsSelectCell(0, 2);  // still the empty bottom row on screen
  EXPECT_EQ(frames->Current(), 0u);
}

TEST_F(PacketListTest, NewFramesLeaveTheSelectedCellWhereItIs) {
  StartCapture();
  ASSERT_TRUE(Feed({Numbered(1), Numbered(2)}));
  auto* m = form->packetModel();
  form->Packets->setCurrentIndex(m->index(2, 4));  // the empty bottom row
  ASSERT_TRUE(Feed({Numbered(3), Numbered(4)}));
  EXPECT_EQ(form->Packets->currentIndex().row(), 2);
  EXPECT_EQ(form->Packets->currentIndex().column(), 4);
}

TEST_F(PacketListTest, ModelStaysConsistentThroughInsertsAndClears) {
  QAbstractItemModelTester tester(form->packetModel(), QAbstractItemModelTester::FailureReportingMode::Fatal);
  StartCapture();
  ASSERT_TRUE(Feed({Numbered(1)}));
  ASSERT_TRUE(Feed({Numbered(2), Numbered(3), Numbered(4)}));
  form->Stop->click();
  StartDiscarding();
  ASSERT_TRUE(Feed({Numbered(5)}));
  auto* m = form->packetModel();
  EXPECT_EQ(m->rowCount(), 2);
  EXPECT_EQ(m->columnCount(), 6);
  EXPECT_FALSE(m->data(m->index(5, 0)).isValid());  // out of range
  EXPECT_EQ(m->headerData(5, Qt::Horizontal).toString(), "Protocol");
  EXPECT_FALSE(m->headerData(6, Qt::Horizontal).isValid());
}

// The message boxes that are open, by their text.
QStringList OpenBoxes() {
  QStringList texts;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) texts << box->text();
  return texts;
}

TEST_F(PacketListTest, AFullFrameStoreKeepsWhatItHasRefusesTheRestAndSaysSoOnce) {
  // Room for the index of some 16,000 frames.
  frames->SetBudget(std::size_t{128} << 10);
  const QString fullText = QString::fromStdString(netvane::StorageFullText(frames->Budget()));
  StartCapture();
  // 1400-byte frames named by their source IP, until the list refuses one.
  std::vector<Bytes> sent;
  auto FillUp = [&] {
    sent.clear();
    for (int round = 0; round < 20 && !frames->Full(); ++round) {
      std::vector<Bytes> batch;
      for (int k = 0; k < 1000; ++k) {
        batch.push_back(Numbered(int(sent.size()) + 1));
        batch.back().resize(100, uint8_t(sent.size()));
        sent.push_back(batch.back());
      }
      if (!Feed(batch)) return false;
    }
    return frames->Full();
  };
  ASSERT_TRUE(FillUp());
  const uint32_t kept = frames->Count();
  ASSERT_GT(kept, 0u);
  ASSERT_LT(kept, sent.size());
  // Later frames, however small, are refused too: the list is an unbroken run.
  ASSERT_TRUE(Feed({Numbered(1), Numbered(2)}));
  EXPECT_EQ(frames->Count(), kept);
  for (uint32_t n = 1; n <= kept; ++n) {
    const auto stored = frames->Frame(n);
    ASSERT_EQ(Bytes(stored.begin(), stored.end()), sent[n - 1]) << n;
  }
  EXPECT_EQ(form->packetModel()->listed(), kept);
  EXPECT_EQ(form->Captured->text(), QString::number(kept));
  EXPECT_EQ(GridRows(), int(kept) + 2);
  EXPECT_EQ(OpenBoxes(), QStringList{fullText});
  ASSERT_TRUE(Feed({Numbered(3)}));
  EXPECT_EQ(OpenBoxes(), QStringList{fullText}) << "told once";
  EXPECT_TRUE(Capturing());

  // What is stored stays viewable.
  form->Packets->setCurrentIndex(form->packetModel()->index(int(kept) - 1, 0));
  EXPECT_EQ(frames->Current(), kept);
  EXPECT_EQ(form->Packet->toPlainText(), QString::fromLatin1(netvane::HexDump(sent[kept - 1]).c_str()));

  // Stop and Start clear it; frames are stored again, and a new fill is told again.
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) box->close();
  EXPECT_TRUE(OpenBoxes().isEmpty());
  form->Stop->click();
  StartDiscarding();
  EXPECT_FALSE(frames->Full());
  ASSERT_TRUE(Feed({Numbered(1)}));
  EXPECT_EQ(frames->Count(), 1u);
  EXPECT_TRUE(OpenBoxes().isEmpty());
  ASSERT_TRUE(FillUp());
  EXPECT_EQ(OpenBoxes(), QStringList{fullText});
}

QStringList TopNodes(QTreeWidget* tv) {
  QStringList texts;
  for (int i = 0; i < tv->topLevelItemCount(); ++i) texts << tv->topLevelItem(i)->text(0);
  return texts;
}

TEST_F(PacketListTest, AHitShowsTheFrameInDumpsAndTreeAMissKeepsThem) {
  EXPECT_EQ(TopNodes(form->TV), QStringList({"Ethernet Header", "IP Header", "TCP Header"}));
  StartCapture();
  const Bytes tcp = IpFrame(kHostB, kHostA, 6, {10, 1, 1, 1}, {10, 2, 2, 2});
  const Bytes arp = EtherFrame(kBroadcastMac, kHostA, 0x0806);
  ASSERT_TRUE(Feed({tcp, arp}));
  auto* m = form->packetModel();
  form->Packets->setCurrentIndex(m->index(1, 3));
  EXPECT_EQ(form->Packet->toPlainText(), QString::fromLatin1(netvane::HexDump(arp).c_str()));
  const QStringList arpTree = TopNodes(form->TV);
  form->Packets->setCurrentIndex(m->index(0, 0));
  EXPECT_EQ(form->Packet->toPlainText(), QString::fromLatin1(netvane::HexDump(tcp).c_str()));
  const QString hex = form->Packet->toPlainText();
  const QString text = form->PacketASCII->toPlainText();
  const QStringList tcpTree = TopNodes(form->TV);
  EXPECT_NE(tcpTree, arpTree);
  EXPECT_FALSE(text.isEmpty());
  // The empty bottom row, and the Clear of a later Start after Stop, leave
  // the dumps and the tree as they are.
  form->Packets->setCurrentIndex(m->index(2, 0));
  form->Stop->click();
  StartDiscarding();
  EXPECT_EQ(form->Packet->toPlainText(), hex);
  EXPECT_EQ(form->PacketASCII->toPlainText(), text);
  EXPECT_EQ(TopNodes(form->TV), tcpTree);
}

TEST_F(PacketListTest, SaveDialogTakesTheSelectedFrame) {
  TForm2 form2;
  TForm3 form3;
  form->AttachWindows(&form2, &form3);
  StartCapture();
  const Bytes first = IpFrame(kHostB, kHostA, 17, {1, 2, 3, 4}, {5, 6, 7, 8});
  const Bytes second = EtherFrame(kHostA, kHostB, 0x86DD);
  ASSERT_TRUE(Feed({first, second}));
  form->Packets->setCurrentIndex(form->packetModel()->index(1, 0));
  form->Save->click();
  EXPECT_TRUE(form2.isVisible());
  form->About->click();
  EXPECT_TRUE(form3.isVisible());
  // The dialog's binary source is the current entry, its text source the hex dump.
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  struct Case {
    bool hex;
    QByteArray expected;
  };
  const Case cases[] = {
      {false, QByteArray(reinterpret_cast<const char*>(second.data()), qsizetype(second.size()))},
      {true, QByteArray::fromStdString(netvane::HexDump(second))},
  };
  for (const Case& c : cases) {
    const QString name = dir.filePath(c.hex ? "frame.txt" : "frame.bin");
    form2.Edit1->setText(name);
    form2.Binary->setChecked(!c.hex);
    form2.Hex->setChecked(c.hex);
    ASSERT_EQ(form2.Save(), TForm2::SaveResult::Saved) << c.hex;
    QFile f(name);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), c.expected) << c.hex;
  }
  form2.hide();
  form3.hide();
}

}  // namespace
