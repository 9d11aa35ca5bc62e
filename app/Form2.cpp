#include "app/Form2.h"

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTreeWidget>

#include "app/Form2_drives.h"
#include "app/fonts.h"
#include "app/secondary_window.h"

namespace {

constexpr int kPathRole = Qt::UserRole;

// The lists' rows keep the heights of the dialog's layout whatever the font.
class FixedRowHeight : public QStyledItemDelegate {
 public:
  FixedRowHeight(int height, QObject* parent) : QStyledItemDelegate(parent), height_(height) {}
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize s = QStyledItemDelegate::sizeHint(option, index);
    s.setHeight(height_);
    return s;
  }

 private:
  int height_;
};

// The directory list shows the path as plain indented rows: no expand arrows.
class DirectoryList : public QTreeWidget {
 public:
  using QTreeWidget::QTreeWidget;

 protected:
  void drawBranches(QPainter*, const QRect&, const QModelIndex&) const override {}
};

// A check box keeps its layout place and is widened only where the face in
// use needs more room for its caption than the layout gives.
void PlaceCheckBox(QCheckBox* box, int left, int top, int width, int height) {
  box->setGeometry(left, top, std::max(width, box->sizeHint().width()), height);
}

}  // namespace

TForm2::TForm2(QWidget* parent) : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint) {
  setObjectName("Form2");
  BuildLayout();
  // FormCreate: remember where the program started; navigating the lists
  // moves the working directory, and the destructor moves it back.
  startupDirectory_ = QDir::currentPath();
  RefreshDrives();
  const QString drive = netvane::DriveOf(startupDirectory_, drives_);
  driveDirectory_[drive] = startupDirectory_;
  SelectDriveQuietly(drive);
  ShowDirectory(startupDirectory_);
}

TForm2::~TForm2() {
  // FormDestroy: a failure to change back is of no consequence at program end.
  QDir::setCurrent(startupDirectory_);
}

void TForm2::BuildLayout() {
  netvane::SetUpSecondaryWindow(this, "Save packet");
  // Client area that holds every control (the layout's outer size is 625 x 380).
  resize(617, 353);

  DriveComboBox1 = new QComboBox(this);
  DriveComboBox1->setObjectName("DriveComboBox1");
  DriveComboBox1->setGeometry(0, 0, 161, 19);

  DirectoryListBox1 = new DirectoryList(this);
  DirectoryListBox1->setObjectName("DirectoryListBox1");
  DirectoryListBox1->setGeometry(0, 24, 361, 201);
  DirectoryListBox1->setHeaderHidden(true);
  DirectoryListBox1->setRootIsDecorated(false);
  DirectoryListBox1->setItemsExpandable(false);
  DirectoryListBox1->setExpandsOnDoubleClick(false);
  DirectoryListBox1->setIndentation(12);
  DirectoryListBox1->setUniformRowHeights(true);
  DirectoryListBox1->setItemDelegate(new FixedRowHeight(16, DirectoryListBox1));

  FileListBox1 = new QListWidget(this);
  FileListBox1->setObjectName("FileListBox1");
  FileListBox1->setGeometry(376, 24, 241, 329);
  FileListBox1->setUniformItemSizes(true);
  FileListBox1->setIconSize(QSize(12, 12));  // fits the 13-pixel rows
  FileListBox1->setItemDelegate(new FixedRowHeight(13, FileListBox1));

  Label1 = new QLabel("Select file to save packet :", this);
  Label1->setObjectName("Label1");
  Label1->setFont(netvane::WindowFont(true));
  Label1->move(0, 248);
  Label1->adjustSize();

  Edit1 = new QLineEdit("Edit1", this);
  Edit1->setObjectName("Edit1");
  Edit1->setGeometry(0, 264, 353, 21);

  Binary = new QCheckBox("Save in binary format", this);
  Binary->setObjectName("Binary");
  PlaceCheckBox(Binary, 8, 288, 137, 17);
  Binary->setChecked(true);

  Hex = new QCheckBox("Save in hex format", this);
  Hex->setObjectName("Hex");
  PlaceCheckBox(Hex, 232, 288, 121, 17);

  Button1 = new QPushButton("Save", this);
  Button1->setObjectName("Button1");
  Button1->setGeometry(16, 312, 105, 25);

  Button2 = new QPushButton("Cancel", this);
  Button2->setObjectName("Button2");
  Button2->setGeometry(216, 312, 113, 25);

  QWidget* order[] = {DriveComboBox1, DirectoryListBox1, FileListBox1, Edit1, Binary, Hex, Button1, Button2};
  for (size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);

  connect(DriveComboBox1, &QComboBox::activated, this, [this] { DriveComboBox1Change(); });
  connect(DirectoryListBox1, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) {
    if (item) OpenDirectory(item->data(0, kPathRole).toString());
  });
  connect(FileListBox1, &QListWidget::itemSelectionChanged, this, [this] { FileListBox1Change(); });
  connect(Hex, &QCheckBox::clicked, this, [this] { HexClick(); });
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
}

void TForm2::setFrameSource(CurrentBytes currentBytes, std::function<QString()> hexText) {
  currentBytes_ = std::move(currentBytes);
  hexText_ = std::move(hexText);
}

void TForm2::ShowDialog() {
  // A stick plugged in since the last showing is listed now.
  if (!isVisible()) RefreshDrives();
  show();
  raise();
  activateWindow();
}

void TForm2::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (shownBefore_) return;
  shownBefore_ = true;
  // First display: the drive of the working directory, reported as a drive change.
  const QString cwd = QDir::currentPath();
  const QString drive = netvane::DriveOf(cwd, drives_);
  driveDirectory_[drive] = cwd;
  SelectDriveQuietly(drive);
  DriveComboBox1Change();
}

void TForm2::RefreshDrives() {
  drives_ = netvane::MountedDriveRoots();
  const QString chosen = DriveComboBox1->currentText();
  DriveComboBox1->blockSignals(true);
  DriveComboBox1->clear();
  DriveComboBox1->addItems(drives_);
  DriveComboBox1->setCurrentIndex(std::max<int>(0, static_cast<int>(drives_.indexOf(chosen))));
  DriveComboBox1->blockSignals(false);
}

void TForm2::SelectDriveQuietly(const QString& root) {
  int i = DriveComboBox1->findText(root);
  if (i < 0) {
    DriveComboBox1->addItem(root);
    i = DriveComboBox1->count() - 1;
  }
  DriveComboBox1->blockSignals(true);
  DriveComboBox1->setCurrentIndex(i);
  DriveComboBox1->blockSignals(false);
}

void TForm2::ShowDirectory(const QString& path) {
  directory_ = path;
  const QStyle* st = style();
  const QIcon open = st->standardIcon(QStyle::SP_DirOpenIcon);
  const QIcon closed = st->standardIcon(QStyle::SP_DirClosedIcon);

  // The path from the root down, one indented row per directory, then the
  // subdirectories one step further in.
  DirectoryListBox1->clear();
  auto* node = new QTreeWidgetItem(QStringList{"/"});
  node->setData(0, kPathRole, QStringLiteral("/"));
  node->setIcon(0, open);
  DirectoryListBox1->addTopLevelItem(node);
  QString walked;
  for (const QString& part : path.split('/', Qt::SkipEmptyParts)) {
    walked += '/' + part;
    auto* next = new QTreeWidgetItem(node, QStringList{part});
    next->setData(0, kPathRole, walked);
    next->setIcon(0, open);
    node = next;
  }
  QTreeWidgetItem* current = node;
  const QDir dir(path);
  const QString prefix = netvane::WithTrailingSlash(path);
  for (const QString& sub : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
    auto* child = new QTreeWidgetItem(current, QStringList{sub});
    child->setData(0, kPathRole, prefix + sub);
    child->setIcon(0, closed);
  }
  DirectoryListBox1->expandAll();
  DirectoryListBox1->setCurrentItem(current);

  // Another directory: nothing of the old list stays selected.
  FileListBox1->blockSignals(true);
  FileListBox1->clear();
  FileListBox1->blockSignals(false);
  ListFiles();
}

void TForm2::ListFiles() {
  // Refilling is not a choice of the user's: Edit1 keeps its text, and the
  // file that was selected stays selected when it is still there.
  const QList<QListWidgetItem*> selected = FileListBox1->selectedItems();
  const QString keep = selected.isEmpty() ? QString() : selected.front()->text();
  FileListBox1->blockSignals(true);
  FileListBox1->clear();
  const QIcon fileIcon = style()->standardIcon(QStyle::SP_FileIcon);
  for (const QString& name : QDir(directory_).entryList(QDir::Files, QDir::Name)) {
    auto* item = new QListWidgetItem(fileIcon, name);
    FileListBox1->addItem(item);
    if (name == keep) item->setSelected(true);
  }
  FileListBox1->blockSignals(false);
}

void TForm2::OpenDirectory(const QString& path) {
  const QFileInfo info(path);
  if (!info.isDir()) return;
  const QString clean = QDir::cleanPath(info.absoluteFilePath());
  // The lists follow the working directory (undone at destruction); a
  // directory the process cannot enter is not opened.
  if (!QDir::setCurrent(clean)) return;
  ShowDirectory(clean);
  const QString drive = netvane::DriveOf(clean, drives_);
  driveDirectory_[drive] = clean;
  SelectDriveQuietly(drive);
  DirectoryListBox1Change();
}

void TForm2::DriveComboBox1Change() {
  const QString root = DriveComboBox1->currentText();
  if (root.isEmpty()) return;
  QString dir = driveDirectory_.value(root, root);
  if (!QFileInfo(dir).isDir()) dir = root;
  // The directory list reports its change first, so the drive text wins.
  OpenDirectory(dir);
  Edit1->setText(netvane::WithTrailingSlash(root));
}

void TForm2::DirectoryListBox1Change() {
  Edit1->setText(netvane::WithTrailingSlash(directory_));
}

void TForm2::FileListBox1Change() {
  const QList<QListWidgetItem*> selected = FileListBox1->selectedItems();
  Edit1->setText(selected.isEmpty() ? QString()
                                    : netvane::WithTrailingSlash(directory_) + selected.front()->text());
}

void TForm2::HexClick() {
  // Only checking Hex unchecks Binary; both or neither may end up checked.
  if (Hex->isChecked()) Binary->setChecked(false);
}

void TForm2::Button2Click() {
  hide();
}
