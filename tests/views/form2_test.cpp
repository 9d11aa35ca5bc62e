// The save dialog's layout and the linkage of its drive, directory and file lists.
#include "app/Form2.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include "app/Form2_drives.h"

namespace {

class Form2Test : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tmp.isValid());
    before = QDir::currentPath();
    root = QDir(tmp.path()).canonicalPath();
    ASSERT_TRUE(QDir(root).mkpath("sub/deeper"));
    ASSERT_TRUE(QDir(root).mkpath("other"));
    for (const char* name : {"b.bin", "a.hex"}) {
      QFile f(root + "/" + name);
      ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    ASSERT_TRUE(QDir::setCurrent(root));
    form = std::make_unique<TForm2>();
  }
  void TearDown() override {
    form.reset();
    QDir::setCurrent(before);
  }

  QStringList Files() const {
    QStringList out;
    for (int i = 0; i < form->FileListBox1->count(); ++i) out << form->FileListBox1->item(i)->text();
    return out;
  }
  // Rows of the directory list from the top, each as indent depth and name.
  QStringList DirectoryRows() const {
    QStringList out;
    for (QTreeWidgetItemIterator it(form->DirectoryListBox1); *it; ++it) {
      int depth = 0;
      for (QTreeWidgetItem* p = (*it)->parent(); p; p = p->parent()) ++depth;
      out << QString(depth, '>') + (*it)->text(0);
    }
    return out;
  }

  QTemporaryDir tmp;
  QString before;
  QString root;
  std::unique_ptr<TForm2> form;
};

TEST_F(Form2Test, LayoutMatchesTheDialogTable) {
  struct Case {
    const char* name;
    QRect geometry;
    QString text;
  };
  const Case cases[] = {
      {"DriveComboBox1", {0, 0, 161, 19}, {}},
      {"DirectoryListBox1", {0, 24, 361, 201}, {}},
      {"FileListBox1", {376, 24, 241, 329}, {}},
      {"Edit1", {0, 264, 353, 21}, "Edit1"},
      {"Binary", {8, 288, 137, 17}, "Save in binary format"},
      {"Hex", {232, 288, 121, 17}, "Save in hex format"},
      {"Button1", {16, 312, 105, 25}, "Save"},
      {"Button2", {216, 312, 113, 25}, "Cancel"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto* w = form->findChild<QWidget*>(c.name);
    ASSERT_NE(w, nullptr);
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
      EXPECT_EQ(b->text(), c.text);
    }
    if (auto* b = qobject_cast<QCheckBox*>(w)) {
      // Check boxes may grow to show their whole caption, nothing else.
      EXPECT_EQ(b->pos(), c.geometry.topLeft());
      EXPECT_EQ(b->height(), c.geometry.height());
      EXPECT_GE(b->width(), std::max(c.geometry.width(), b->sizeHint().width()));
    } else {
      EXPECT_EQ(w->geometry(), c.geometry);
    }
    if (auto* e = qobject_cast<QLineEdit*>(w)) {
      EXPECT_EQ(e->text(), c.text);
    }
  }
  EXPECT_EQ(form->Label1->text(), "Select file to save packet :");
  EXPECT_EQ(form->Label1->pos(), QPoint(0, 248));
  EXPECT_TRUE(form->Label1->font().bold());
  EXPECT_TRUE(form->Binary->isChecked());
  EXPECT_FALSE(form->Hex->isChecked());
  EXPECT_EQ(form->windowTitle(), "Save packet");
  EXPECT_TRUE(form->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_TRUE(form->isWindow());
  EXPECT_EQ(form->windowModality(), Qt::NonModal);
  EXPECT_FALSE(form->windowIcon().isNull());
  EXPECT_FALSE(form->isVisible());

  // Tab order: the chain of focusable controls in layout order.
  const QWidget* order[] = {form->DriveComboBox1, form->DirectoryListBox1,
                            form->FileListBox1,   form->Edit1,
                            form->Binary,         form->Hex,
                            form->Button1,        form->Button2};
  for (size_t i = 0; i + 1 < std::size(order); ++i) {
    QWidget* next = order[i]->nextInFocusChain();
    while (next && next->focusPolicy() == Qt::NoFocus) next = next->nextInFocusChain();
    EXPECT_EQ(next, order[i + 1]) << "after " << order[i]->objectName().toStdString();
  }
}

TEST_F(Form2Test, ListsShowTheStartupDirectoryAndFirstDisplayShowsItsDriveRoot) {
  EXPECT_EQ(form->StartupDirectory(), root);
  EXPECT_EQ(form->Directory(), root);
  EXPECT_EQ(Files(), (QStringList{"a.hex", "b.bin"}));
  // Before it is first seen the edit box still holds its layout text.
  EXPECT_EQ(form->Edit1->text(), "Edit1");
  form->ShowDialog();
  const QString drive = netvane::DriveOf(root, netvane::MountedDriveRoots());
  EXPECT_EQ(form->Edit1->text(), netvane::WithTrailingSlash(drive));
  EXPECT_EQ(form->DriveComboBox1->currentText(), drive);
  // The drive's directory is the working directory: the lists stay where they were.
  EXPECT_EQ(form->Directory(), root);
  EXPECT_EQ(QDir::currentPath(), root);
  // Showing again does not repeat the first-display change.
  form->Edit1->setText("kept");
  form->hide();
  form->ShowDialog();
  EXPECT_EQ(form->Edit1->text(), "kept");
}

TEST_F(Form2Test, DirectoryListShowsThePathIndentedThenTheSubdirectories) {
  QStringList expected;
  expected << "/";
  QString indent = ">";
  for (const QString& part : root.split('/', Qt::SkipEmptyParts)) {
    expected << indent + part;
    indent += '>';
  }
  expected << indent + "other" << indent + "sub";
  EXPECT_EQ(DirectoryRows(), expected);
  EXPECT_EQ(form->DirectoryListBox1->currentItem()->text(0), QDir(root).dirName());
}

TEST_F(Form2Test, OpeningADirectoryMovesListsWorkingDirectoryAndEditBox) {
  form->ShowDialog();
  // Open "sub" the way the user does: activate its row.
  QTreeWidgetItem* sub =
      form->DirectoryListBox1->findItems("sub", Qt::MatchExactly | Qt::MatchRecursive).value(0);
  ASSERT_NE(sub, nullptr);
  emit form->DirectoryListBox1->itemActivated(sub, 0);
  EXPECT_EQ(form->Directory(), root + "/sub");
  EXPECT_EQ(QDir::currentPath(), root + "/sub");
  EXPECT_EQ(form->Edit1->text(), root + "/sub/");
  EXPECT_TRUE(Files().isEmpty());
  // Up again through a row of the path.
  QTreeWidgetItem* up =
      form->DirectoryListBox1->findItems(QDir(root).dirName(), Qt::MatchExactly | Qt::MatchRecursive)
          .value(0);
  ASSERT_NE(up, nullptr);
  emit form->DirectoryListBox1->itemActivated(up, 0);
  EXPECT_EQ(form->Edit1->text(), root + "/");
  EXPECT_EQ(Files().size(), 2);
  // The root itself gets no doubled separator.
  form->OpenDirectory("/");
  EXPECT_EQ(form->Edit1->text(), "/");
}

TEST_F(Form2Test, FileSelectionPutsTheFullNameIntoTheEditBox) {
  form->ShowDialog();
  form->FileListBox1->setCurrentRow(1);
  EXPECT_EQ(form->Edit1->text(), root + "/b.bin");
  form->FileListBox1->setCurrentRow(0);
  EXPECT_EQ(form->Edit1->text(), root + "/a.hex");
  form->FileListBox1->clearSelection();
  EXPECT_EQ(form->Edit1->text(), "");
}

TEST_F(Form2Test, DriveChangeShowsTheDrivesLastDirectoryAndPutsItsRootInTheEditBox) {
  form->ShowDialog();
  form->OpenDirectory(root + "/sub/deeper");
  const QString drive = form->DriveComboBox1->currentText();
  // Choosing the drive again goes back to where the user was on it, with the root in the box.
  form->DriveComboBox1->setCurrentIndex(form->DriveComboBox1->findText(drive));
  emit form->DriveComboBox1->activated(form->DriveComboBox1->currentIndex());
  EXPECT_EQ(form->Directory(), root + "/sub/deeper");
  EXPECT_EQ(form->Edit1->text(), netvane::WithTrailingSlash(drive));
  // A remembered directory that has gone falls back to the drive's root.
  ASSERT_TRUE(QDir::setCurrent(root));
  ASSERT_TRUE(QDir(root + "/sub/deeper").removeRecursively());
  form->DriveComboBox1Change();
  EXPECT_EQ(form->Directory(), drive);
  EXPECT_EQ(form->Edit1->text(), netvane::WithTrailingSlash(drive));
}

TEST_F(Form2Test, HexClickUnchecksBinaryOnlyWhenHexBecomesChecked) {
  struct Case {
    const char* name;
    std::vector<char> clicks;  // 'h' Hex, 'b' Binary
    bool binary, hex;
  };
  const Case cases[] = {
      {"hex", {'h'}, false, true},
      {"hex then binary: both", {'h', 'b'}, true, true},
      {"hex twice", {'h', 'h'}, false, false},
      {"binary: neither", {'b'}, false, false},
      {"both, then hex off", {'h', 'b', 'h'}, true, false},
      {"both, then hex off and on", {'h', 'b', 'h', 'h'}, false, true},
  };
  form->show();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    form->Binary->setChecked(true);
    form->Hex->setChecked(false);
    for (char k : c.clicks) {
      QTest::mouseClick(k == 'h' ? form->Hex : form->Binary, Qt::LeftButton, {}, QPoint(5, 8));
    }
    EXPECT_EQ(form->Binary->isChecked(), c.binary);
    EXPECT_EQ(form->Hex->isChecked(), c.hex);
  }
}

TEST_F(Form2Test, CancelHidesAndKeepsTheControlsState) {
  form->ShowDialog();
  form->Edit1->setText(root + "/keep.bin");
  form->Hex->click();
  form->Button2->click();
  EXPECT_FALSE(form->isVisible());
  form->ShowDialog();
  EXPECT_TRUE(form->isVisible());
  EXPECT_EQ(form->Edit1->text(), root + "/keep.bin");
  EXPECT_TRUE(form->Hex->isChecked());
  EXPECT_FALSE(form->Binary->isChecked());
  // The title bar's close hides it the same way.
  form->close();
  EXPECT_FALSE(form->isVisible());
  form->ShowDialog();
  EXPECT_TRUE(form->isVisible());
}

TEST_F(Form2Test, DestructionReturnsToTheStartupDirectory) {
  form->OpenDirectory(root + "/other");
  ASSERT_EQ(QDir::currentPath(), root + "/other");
  form.reset();
  EXPECT_EQ(QDir::currentPath(), root);
}

}  // namespace
