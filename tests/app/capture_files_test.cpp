// Whole captures in and out of the main window: what opens, what a bad file
// leaves behind, the refusal while capturing, a save that fails or succeeds,
// the question before unsaved captured frames go, and a file dropped on a
// control.
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QMimeData>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QUrl>

#include <sys/resource.h>

#include <csignal>
#include <optional>

#include <pcap/pcap.h>

#include "app/file_job.h"
#include "decode/dumps.h"
#include "tests/app/window_fixture.h"
#include "tests/views/message_box_answerer.h"

namespace {

using netvane::testing::PcapImage;
using netvane::testing::PcapngImage;
using netvane::testing::PcapRecord;
using viewtest::MessageBoxAnswerer;

Bytes Frame(int k, size_t size = 74) {
  Bytes f = IpFrame(kHostB, kHostA, 17, {10, 0, 0, uint8_t(k)}, {10, 9, 9, 9});
  f.resize(size, uint8_t(k));
  return f;
}

void WriteFile(const QString& path, const Bytes& content) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  ASSERT_EQ(f.write(reinterpret_cast<const char*>(content.data()), qint64(content.size())),
            qint64(content.size()));
}

// The frames libpcap reads from a capture file; -1 when it cannot open it.
int PcapFrames(const QString& path) {
  char error[PCAP_ERRBUF_SIZE] = {};
  pcap_t* p = pcap_open_offline(QFile::encodeName(path).constData(), error);
  if (p == nullptr) return -1;
  int n = 0;
  pcap_pkthdr* header = nullptr;
  const u_char* data = nullptr;
  while (pcap_next_ex(p, &header, &data) == 1) ++n;
  pcap_close(p);
  return n;
}

QByteArray ReadFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(unreadable)");
}

struct Listed {
  Bytes bytes;
  int64_t seconds;
  uint32_t microseconds, wireLength;
  bool operator==(const Listed&) const = default;
};

class CaptureFilesTest : public WindowTest {
 protected:
  // Opens `path` and waits until the load is over.
  bool Open(const QString& path) {
    if (!form->OpenCaptureFile(path)) return false;
    return WaitFor([&] { return form->fileJob() == nullptr; });
  }
  bool SaveAs(const QString& path) {
    if (!form->SaveCaptureFile(path)) return false;
    return WaitFor([&] { return form->fileJob() == nullptr; });
  }
  std::vector<Listed> ListedFrames() const {
    std::vector<Listed> out;
    for (uint32_t n = 1; n <= frames->Count(); ++n) {
      const auto b = frames->Frame(n);
      const netvane::CaptureStamp s = frames->Stamp(n);
      out.push_back({Bytes(b.begin(), b.end()), s.seconds, s.microseconds, s.wireLength});
    }
    return out;
  }
  QString In(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }

  QTemporaryDir dir;
};

// Capture files in all three forms and the two files the save dialog writes.
TEST_F(CaptureFilesTest, OpensCapturesAndSavedFrames) {
  const Bytes a = Frame(1, 60), b = Frame(2, 1514), c = Frame(3, 100);
  const std::vector<PcapRecord> records = {
      {a, 1700000000, 123456, 0}, {b, 1700000001, 999999, 9000}, {c, 4000000000u, 5, 0}};
  std::vector<PcapRecord> nano = records;
  for (PcapRecord& r : nano) r.fraction = r.fraction * 1000 + 789;  // read back in whole microseconds
  const std::string hex = netvane::HexDump(b);
  const Bytes hexText(hex.begin(), hex.end());
  Bytes hexLine = hexText;
  hexLine.push_back('\n');
  const std::vector<Listed> fromPcap = {
      {a, 1700000000, 123456, 60}, {b, 1700000001, 999999, 9000}, {c, 4000000000LL, 5, 100}};
  const struct {
    const char* name;
    Bytes content;
    std::vector<Listed> want;  // a stamp of -1 seconds: the time of opening
  } cases[] = {
      {"micro.pcap", PcapImage(records, false), fromPcap},
      {"nano.pcap", PcapImage(nano, true), fromPcap},
      {"ng.pcapng", PcapngImage({a, c}), {{a, 0, 0, 60}, {c, 0, 0, 100}}},
      {"frame.bin", b, {{b, -1, 0, 1514}}},
      {"frame.txt", hexText, {{b, -1, 0, 1514}}},
      {"edited.txt", hexLine, {{b, -1, 0, 1514}}},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    Make();
    WriteFile(In(k.name), k.content);
    const int64_t before = netvane::StampOfNow().seconds;
    ASSERT_TRUE(Open(In(k.name)));
    const int64_t after = netvane::StampOfNow().seconds;
    std::vector<Listed> got = ListedFrames();
    ASSERT_EQ(got.size(), k.want.size());
    for (size_t i = 0; i < got.size(); ++i) {
      Listed want = k.want[i];
      if (want.seconds == -1) {
        EXPECT_GE(got[i].seconds, before);
        EXPECT_LE(got[i].seconds, after);
        want.seconds = got[i].seconds;
        want.microseconds = got[i].microseconds;
      }
      EXPECT_EQ(got[i], want) << "frame " << i + 1;
    }
    EXPECT_EQ(GridRows(), int(k.want.size()) + 2);
    EXPECT_EQ(form->Captured->text(), QString::number(k.want.size()));
    EXPECT_TRUE(Stopped());
  }
}

// A file that cannot be listed changes nothing, nor does one that holds no
// frame; a damaged one lists the frames before the damage and says so.
TEST_F(CaptureFilesTest, BadFilesKeepWhatIsShownOrListWhatComesBeforeTheDamage) {
  const std::vector<Bytes> shown = {Frame(1), Frame(2), Frame(3)};
  const Bytes good = PcapImage(shown);
  Bytes damagedFirst = good;
  damagedFirst.resize(24 + 10);
  Bytes cutInThird = PcapImage({Frame(4), Frame(5), Frame(6)});
  cutInThird.resize(cutInThird.size() - 20);
  ASSERT_TRUE(QDir(dir.path()).mkdir("folder"));
  const struct {
    const char* name;
    std::optional<Bytes> content;  // none: not written
    bool replaces;                 // asked, answered Yes, and the list is replaced
    size_t listed;
    const char* says;
  } cases[] = {
      {"missing.pcap", std::nullopt, false, 3, "No such file or directory"},
      {"folder", std::nullopt, false, 3, "not a regular file"},
      {"empty.bin", Bytes{}, false, 3, "/empty.bin: it holds no frames."},
      {"none.pcap", PcapImage({}), false, 3, "it holds no frames"},
      {"none.pcapng", PcapngImage({}), false, 3, "it holds no frames"},
      {"raw.pcap", PcapImage(shown, 101), false, 3, "link type is RAW, not Ethernet"},
      {"first.pcap", damagedFirst, false, 3, "damaged or cut short before its first frame"},
      {"third.pcap", cutInThird, true, 2, "damaged or cut short after 2 frames"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    Make();
    WriteFile(In("good.pcap"), good);
    ASSERT_TRUE(Open(In("good.pcap")));
    if (k.content) WriteFile(In(k.name), *k.content);
    MessageBoxAnswerer answers({QMessageBox::Yes, QMessageBox::Ok});
    EXPECT_EQ(Open(In(k.name)), k.replaces);
    ASSERT_TRUE(WaitFor([&] { return answers.Seen().size() == (k.replaces ? 2u : 1u); }));
    EXPECT_TRUE(answers.Seen().back().text.contains(k.says)) << answers.Seen().back().text.toStdString();
    ASSERT_EQ(frames->Count(), k.listed);
    for (uint32_t n = 1; n <= k.listed; ++n) {
      const Bytes want = k.replaces ? Frame(int(n) + 3) : shown[n - 1];
      const auto got = frames->Frame(n);
      EXPECT_EQ(Bytes(got.begin(), got.end()), want) << n;
    }
    EXPECT_EQ(GridRows(), int(k.listed) + 2);
  }
}

// A file with more frames than the frame storage budget indexes lists the
// frames that fit, numbered without gaps, and the storage-full box comes once.
TEST_F(CaptureFilesTest, ABigFileListsWhatFitsTheBudget) {
  std::vector<Bytes> many;
  for (int k = 0; k < 20000; ++k) many.push_back(Frame(k, 60));
  WriteFile(In("big.pcap"), PcapImage(many));
  // Room for the index of some 16,000 frames.
  frames->SetBudget(std::size_t{128} << 10);
  ASSERT_TRUE(Open(In("big.pcap")));
  const uint32_t listed = frames->Count();
  EXPECT_GT(listed, 10000u);
  EXPECT_LT(listed, 20000u);
  EXPECT_TRUE(frames->Full());
  EXPECT_EQ(GridRows(), int(listed) + 2);
  EXPECT_EQ(form->Captured->text(), QString::number(listed));
  for (uint32_t n = 1; n <= listed; n += 97) EXPECT_EQ(frames->Frame(n), many[n - 1]) << n;
  int boxes = 0;
  for (QWidget* top : QApplication::topLevelWidgets())
    if (qobject_cast<QMessageBox*>(top) != nullptr && top->isVisible()) ++boxes;
  EXPECT_EQ(boxes, 1);
}

// While capturing nothing opens; paused, a file replaces the list (after
// the question) and the next Start clears it, as after Stop. Opened before the
// first Start, the Start that follows is still the first one.
TEST_F(CaptureFilesTest, OpensOnlyWhileNoAdapterIsBound) {
  WriteFile(In("two.pcap"), PcapImage({Frame(7), Frame(8)}));
  ASSERT_TRUE(Open(In("two.pcap")));
  EXPECT_EQ(frames->Count(), 2u);
  PressStart();
  ASSERT_TRUE(Capturing());
  EXPECT_EQ(frames->Count(), 0u);
  const auto calls = fake->Calls();
  EXPECT_NE(std::find(calls.begin(), calls.end(), "Driver_BindAdapter eth0"), calls.end());
  ASSERT_TRUE(Feed({Frame(1), Frame(2), Frame(3)}));
  {
    MessageBoxAnswerer answers({QMessageBox::Ok});
    EXPECT_FALSE(form->OpenCaptureFile(In("two.pcap")));
    ASSERT_EQ(answers.Seen().size(), 1u);
    EXPECT_EQ(answers.Seen()[0].text, "Pause or stop the capture before opening a capture file.");
  }
  EXPECT_TRUE(Capturing());
  EXPECT_EQ(frames->Count(), 3u);
  form->Pause->click();
  {
    MessageBoxAnswerer answers({QMessageBox::Cancel});
    EXPECT_FALSE(form->OpenCaptureFile(In("two.pcap")));
    EXPECT_EQ(frames->Count(), 3u);
  }
  {
    MessageBoxAnswerer answers({QMessageBox::Discard});
    ASSERT_TRUE(Open(In("two.pcap")));
    EXPECT_EQ(answers.Seen().size(), 1u);
  }
  EXPECT_EQ(frames->Count(), 2u);
  EXPECT_TRUE(Stopped());
  PressStart();
  ASSERT_TRUE(Capturing());
  EXPECT_EQ(GridRows(), 2);
  ASSERT_TRUE(Feed({Frame(9)}));
  EXPECT_EQ(Cell(1, 0), "1");
  EXPECT_EQ(frames->Frame(1), Frame(9));
}

// Captured frames that were never saved go only when the user says so: at a
// Start after Stop, an opened file and closing, Cancel keeps the list and the
// state, Discard lets them go, and Save writes them first (as libpcap reads
// them back) and then lets them go.
TEST_F(CaptureFilesTest, UnsavedCapturedFramesGoOnlyWhenTheUserSaysSo) {
  enum class Then { Start, Open, Close };
  constexpr auto Save = QMessageBox::Save, Discard = QMessageBox::Discard, Cancel = QMessageBox::Cancel;
  const struct {
    Then then;
    QMessageBox::StandardButton answer;
  } cases[] = {
      {Then::Start, Cancel}, {Then::Start, Discard}, {Then::Start, Save},
      {Then::Open, Cancel},  {Then::Open, Discard},  {Then::Open, Save},
      {Then::Close, Cancel}, {Then::Close, Discard}, {Then::Close, Save},
  };
  WriteFile(In("two.pcap"), PcapImage({Frame(7), Frame(8)}));
  const QString saved = In("saved.pcap");
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "then " << int(c.then) << ", answered " << c.answer);
    Make();
    QFile::remove(saved);
    PressStart();
    ASSERT_TRUE(Feed({Frame(1), Frame(2), Frame(3)}));
    form->Stop->click();
    QSignalSpy closed(form.get(), &TForm1::closed);
    {
      MessageBoxAnswerer answers({c.answer}, saved);
      switch (c.then) {
        case Then::Start:
          form->Start->click();
          fake->Settle();  // the start handed to the worker
          break;
        case Then::Open:
          EXPECT_EQ(Open(In("two.pcap")), c.answer != Cancel);
          break;
        case Then::Close:
          EXPECT_EQ(form->close(), c.answer != Cancel);
          break;
      }
      ASSERT_EQ(answers.Seen().size(), c.answer == Save ? 2u : 1u) << "the question, and Save's file dialog";
      const viewtest::SeenBox& ask = answers.Seen()[0];
      EXPECT_EQ(ask.text, "The 3 captured frames have not been saved. Save them before they are discarded?");
      EXPECT_EQ(ask.buttons, Save | Discard | Cancel);
      EXPECT_EQ(ask.defaultButton, Save);
      EXPECT_EQ(ask.escapeButton, Cancel);
      if (c.answer == Save) {
        EXPECT_EQ(answers.Seen()[1].title, "Save capture as");
      }
    }
    EXPECT_EQ(PcapFrames(saved), c.answer == Save ? 3 : -1);
    const bool gone = c.answer != Cancel;
    switch (c.then) {
      case Then::Start:
        EXPECT_EQ(frames->Count(), gone ? 0u : 3u);
        EXPECT_EQ(form->Status->text(), gone ? "Captured packets : " : "Stopped : ");
        EXPECT_EQ(fake->isBound(), gone);
        break;
      case Then::Open:
        EXPECT_EQ(frames->Count(), gone ? 2u : 3u);
        EXPECT_EQ(frames->Frame(1), gone ? Frame(7) : Frame(1));
        break;
      case Then::Close:
        EXPECT_EQ(closed.count(), gone ? 1 : 0);
        EXPECT_EQ(fake->isOpened(), !gone);
        break;
    }
    EXPECT_EQ(GridRows(), int(frames->Count()) + 2);
  }
}

// Frames written by "Save capture as..." go without a question; frames
// captured after the save are asked about again.
TEST_F(CaptureFilesTest, SavedFramesGoWithoutAQuestion) {
  form->Start->click();
  ASSERT_TRUE(Feed({Frame(1), Frame(2)}));
  form->Pause->click();
  ASSERT_TRUE(SaveAs(In("first.pcap")));
  form->Start->click();
  ASSERT_TRUE(Feed({Frame(3)}));
  form->Stop->click();
  {
    MessageBoxAnswerer answers({QMessageBox::Cancel});
    form->Start->click();
    ASSERT_EQ(answers.Seen().size(), 1u);
    EXPECT_EQ(answers.Seen()[0].text,
              "1 of the 3 captured frames has not been saved. Save the capture before it is discarded?");
  }
  ASSERT_TRUE(SaveAs(In("all.pcap")));
  EXPECT_EQ(PcapFrames(In("all.pcap")), 3);
  {
    MessageBoxAnswerer answers({});
    form->Start->click();
    EXPECT_TRUE(answers.Seen().empty()) << answers.Seen().front().text.toStdString();
  }
  EXPECT_EQ(frames->Count(), 0u);
  EXPECT_TRUE(Capturing());
}

// A save keeps every frame's bytes, time stamp and wire length, also of a
// frame longer than a live capture keeps. One that fails part way (here: the file size limit) leaves no file
// of its own and an older file under the name as it was.
TEST_F(CaptureFilesTest, SavesWholeCapturesOrNothing) {
  std::vector<PcapRecord> records;
  for (int k = 0; k < 300; ++k)
    records.push_back({Frame(k, 1000), 1700000000u + k, uint32_t(k * 3001), 1500});
  // Longer than a live capture keeps, as a file opened may hold.
  records[7] = {Frame(7, 30000), 1700000007u, 7, 0};
  WriteFile(In("in.pcap"), PcapImage(records, false));
  ASSERT_TRUE(Open(In("in.pcap")));
  const std::vector<Listed> original = ListedFrames();
  ASSERT_EQ(original.size(), 300u);

  ASSERT_TRUE(SaveAs(In("out.pcap")));
  Make();
  ASSERT_TRUE(Open(In("out.pcap")));
  EXPECT_EQ(ListedFrames(), original);

  WriteFile(In("old.pcap"), Bytes{'o', 'l', 'd'});
  const QStringList before =
      QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit small = saved;
  small.rlim_cur = 64 * 1024;
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  {
    MessageBoxAnswerer answers({QMessageBox::Ok});
    const bool begun = SaveAs(In("old.pcap"));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    ASSERT_TRUE(begun);
    ASSERT_EQ(answers.Seen().size(), 1u);
    EXPECT_TRUE(answers.Seen()[0].text.contains("Cannot save the capture as"))
        << answers.Seen()[0].text.toStdString();
    EXPECT_TRUE(answers.Seen()[0].text.contains("File too large")) << answers.Seen()[0].text.toStdString();
  }
  EXPECT_EQ(ReadFile(In("old.pcap")), QByteArray("old"));
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), before);
}

// A file dragged from a file manager onto the text dump opens; the dump does
// not take its name as text.
TEST_F(CaptureFilesTest, AFileDroppedOnAControlOpens) {
  WriteFile(In("drop.pcap"), PcapImage({Frame(1), Frame(2)}));
  form->show();
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(In("drop.pcap"))});
  QWidget* target = form->PacketASCII->viewport();
  const QPoint at(10, 10);
  QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &drop);
  EXPECT_TRUE(drop.isAccepted());
  ASSERT_TRUE(WaitFor([&] { return frames->Count() == 2 && form->fileJob() == nullptr; }));
  EXPECT_TRUE(form->PacketASCII->toPlainText().isEmpty());
}

}  // namespace
