// Saving from the dialog: both file formats byte for byte, the replace
// question, and the error box for every way a write can fail.
#include "app/Form2.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

#include "message_box_answerer.h"
#include "test_frames.h"

using namespace viewtest;
using SaveResult = TForm2::SaveResult;

namespace {

QByteArray Read(const QString& name) {
  QFile f(name);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

void Write(const QString& name, const QByteArray& content) {
  QFile f(name);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  ASSERT_EQ(f.write(content), content.size());
}

QString HexOf(const Bytes& f) {
  QString s;
  for (uint8_t b : f) s += QString::asprintf("%02X ", b);
  return s;
}

class Form2SaveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tmp.isValid());
    before = QDir::currentPath();
    dir = QDir(tmp.path()).canonicalPath();
    ASSERT_TRUE(QDir::setCurrent(dir));
    form = std::make_unique<TForm2>();
    frame = Cut(TcpFrame(), 54);
    frame.resize(60, 0x00);
    form->setFrameSource([this] { return frame; }, [this] { return hex; });
    hex = HexOf(frame);
    form->ShowDialog();
  }
  void TearDown() override {
    form.reset();
    QDir::setCurrent(before);
  }

  SaveResult SaveAs(const QString& name, bool binary, bool hexBox) {
    form->Edit1->setText(name);
    form->Binary->setChecked(binary);
    form->Hex->setChecked(hexBox);
    return form->Save();
  }

  QTemporaryDir tmp;
  QString before;
  QString dir;
  std::unique_ptr<TForm2> form;
  Bytes frame;
  QString hex;
};

TEST_F(Form2SaveTest, BoxesChooseTheFormatAndTheBytesAreExact) {
  const QByteArray binary(reinterpret_cast<const char*>(frame.data()), 60);
  struct Case {
    const char* name;
    bool binaryBox, hexBox;
    QByteArray expected;
  };
  const Case cases[] = {
      {"binary", true, false, binary},
      {"hex", false, true, hex.toLatin1()},
      {"both checked writes hex", true, true, hex.toLatin1()},
      {"neither checked writes binary", false, false, binary},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const QString name = dir + "/" + c.name;
    MessageBoxAnswerer answerer({});
    EXPECT_EQ(SaveAs(name, c.binaryBox, c.hexBox), SaveResult::Saved);
    EXPECT_TRUE(answerer.Seen().empty()) << "a save of a new file asks nothing and reports nothing";
    EXPECT_EQ(Read(name), c.expected);
  }
  EXPECT_EQ(QFileInfo(dir + "/binary").size(), 60);
  EXPECT_EQ(QFileInfo(dir + "/hex").size(), 180);
  EXPECT_TRUE(form->isVisible()) << "the dialog stays open after a save";
}

TEST_F(Form2SaveTest, TheSaveButtonSavesAndTheNameIsRelativeToTheShownDirectory) {
  ASSERT_TRUE(QDir(dir).mkdir("sub"));
  form->OpenDirectory(dir + "/sub");
  // Even when something else moved the working directory since.
  ASSERT_TRUE(QDir::setCurrent(dir));
  form->Edit1->setText("relative.bin");
  form->Button1->click();
  EXPECT_EQ(Read(dir + "/sub/relative.bin").size(), 60);
  EXPECT_FALSE(QFileInfo::exists(dir + "/relative.bin"));
}

TEST_F(Form2SaveTest, HeadEntryAndEmptyHexDumpWriteEmptyFiles) {
  form->setFrameSource([] { return std::vector<uint8_t>{}; }, [] { return QString(); });
  EXPECT_EQ(SaveAs(dir + "/head.bin", true, false), SaveResult::Saved);
  EXPECT_EQ(SaveAs(dir + "/head.hex", false, true), SaveResult::Saved);
  for (const char* name : {"/head.bin", "/head.hex"}) {
    EXPECT_TRUE(QFileInfo::exists(dir + name));
    EXPECT_EQ(QFileInfo(dir + name).size(), 0);
  }
  // Without any frame source at all the same holds.
  TForm2 bare;
  bare.Edit1->setText(dir + "/bare.bin");
  EXPECT_EQ(bare.Save(), SaveResult::Saved);
  EXPECT_EQ(QFileInfo(dir + "/bare.bin").size(), 0);
}

TEST_F(Form2SaveTest, ReplacingAsksFirstAndOnlyYesWrites) {
  struct Case {
    const char* name;
    QMessageBox::StandardButton answer;  // NoButton: Escape
    SaveResult result;
    bool replaced;
  };
  const Case cases[] = {
      {"yes", QMessageBox::Yes, SaveResult::Saved, true},
      {"no", QMessageBox::No, SaveResult::Declined, false},
      {"escape", QMessageBox::NoButton, SaveResult::Declined, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const QString name = dir + "/existing-" + c.name;
    Write(name, "old content that is longer than nothing");
    MessageBoxAnswerer answerer({c.answer});
    EXPECT_EQ(SaveAs(name, true, false), c.result);
    ASSERT_EQ(answerer.Seen().size(), 1u);
    const SeenBox& box = answerer.Seen()[0];
    EXPECT_EQ(box.title, "Warning");
    EXPECT_EQ(box.text, "Replace  " + name + " ?");
    EXPECT_EQ(box.icon, QMessageBox::Warning);
    EXPECT_EQ(box.buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(box.defaultButton, QMessageBox::Yes);
    EXPECT_EQ(box.escapeButton, QMessageBox::No);
    EXPECT_EQ(box.parent, form.get()) << "the question stands above the on-top dialog";
    EXPECT_EQ(Read(name), c.replaced ? QByteArray(reinterpret_cast<const char*>(frame.data()), 60)
                                     : QByteArray("old content that is longer than nothing"));
  }
}

TEST_F(Form2SaveTest, ASecondSaveUnderTheSameNameAsksBeforeReplacing) {
  const QString name = dir + "/twice.hex";
  {
    MessageBoxAnswerer answerer({});
    EXPECT_EQ(SaveAs(name, false, true), SaveResult::Saved);
    EXPECT_TRUE(answerer.Seen().empty());
  }
  MessageBoxAnswerer answerer({QMessageBox::No});
  form->Button1->click();
  EXPECT_EQ(answerer.Seen().size(), 1u);
}

TEST_F(Form2SaveTest, FailedWritesShowTheErrorBoxAndReportNoSuccess) {
  ASSERT_TRUE(QDir(dir).mkdir("adir"));
  struct Case {
    const char* name;
    QString file;
    bool asksFirst;  // an existing non-directory is asked about before the write
  };
  std::vector<Case> cases = {
      {"empty name", "", false},
      {"a directory", dir + "/adir", false},
      {"drive root", "/", false},
      {"missing directory", dir + "/no/such/dir/f.bin", false},
      {"name with a trailing slash", dir + "/newdir/", false},
      // Not even root can create a file here.
      {"unwritable directory", "/proc/netvane-save-test.bin", false},
      // Short write: the device accepts the open and refuses the bytes.
      {"full device", "/dev/full", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<QMessageBox::StandardButton> plan;
    if (c.asksFirst) plan.push_back(QMessageBox::Yes);
    plan.push_back(QMessageBox::Ok);
    MessageBoxAnswerer answerer(plan);
    EXPECT_EQ(SaveAs(c.file, true, false), SaveResult::Failed);
    ASSERT_EQ(answerer.Seen().size(), plan.size());
    const SeenBox& box = answerer.Seen().back();
    EXPECT_EQ(box.title, "File Error");
    EXPECT_EQ(box.text, "Error -  write to file.");
    EXPECT_EQ(box.buttons, QMessageBox::Ok | QMessageBox::Cancel);
  }
  EXPECT_TRUE(QFileInfo(dir + "/adir").isDir());
}

TEST_F(Form2SaveTest, CancelOnTheErrorBoxEndsTheSaveToo) {
  MessageBoxAnswerer answerer({QMessageBox::Cancel});
  EXPECT_EQ(SaveAs(dir + "/missing/x", true, false), SaveResult::Failed);
  EXPECT_EQ(answerer.Seen().size(), 1u);
  EXPECT_FALSE(QFileInfo::exists(dir + "/missing"));
}

TEST_F(Form2SaveTest, AnUnwritableDirectoryShowsTheErrorBox) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes into a read-only directory anyway";
  ASSERT_TRUE(QDir(dir).mkdir("ro"));
  QFile::setPermissions(dir + "/ro", QFile::ReadOwner | QFile::ExeOwner);
  MessageBoxAnswerer answerer({QMessageBox::Ok});
  EXPECT_EQ(SaveAs(dir + "/ro/f.bin", true, false), SaveResult::Failed);
  EXPECT_EQ(answerer.Seen().size(), 1u);
  QFile::setPermissions(dir + "/ro", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

}  // namespace
