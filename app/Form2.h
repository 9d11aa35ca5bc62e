#pragma once
// The save dialog: writes the current frame to a file, as its bytes or as the
// hex dump's text. Modeless and on top; it stays open after a save.

#include <QHash>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

class TForm2 : public QWidget {
  Q_OBJECT
 public:
  // FormCreate: records the start-up directory and shows it in the lists.
  explicit TForm2(QWidget* parent = nullptr);
  // FormDestroy: changes the working directory back to the start-up directory.
  ~TForm2() override;

  // Where a save takes its data: the current entry's bytes (binary format;
  // none when they cannot be read, and the save fails) and the hex dump's
  // text (hex format). Without a source both are empty.
  using CurrentBytes = std::function<std::optional<std::vector<uint8_t>>()>;
  void setFrameSource(CurrentBytes currentBytes, std::function<QString()> hexText);
  // Shows the dialog without blocking its owner; one already shown comes to the front.
  void ShowDialog();

  enum class SaveResult { Saved, Declined, Failed };
  // The whole of a Save click; the error box has been shown when it returns Failed.
  SaveResult Save();

  // The working directory as it was when the dialog was created.
  QString StartupDirectory() const { return startupDirectory_; }
  // The directory that the directory list shows (and the file list lists).
  QString Directory() const { return directory_; }
  // Opens a directory as a double click in the directory list does.
  void OpenDirectory(const QString& path);
  // Rereads the mount table into the drive selector.
  void RefreshDrives();

  QComboBox* DriveComboBox1;
  QTreeWidget* DirectoryListBox1;
  QListWidget* FileListBox1;
  QLabel* Label1;
  QLineEdit* Edit1;
  QCheckBox* Binary;
  QCheckBox* Hex;
  QPushButton* Button1;
  QPushButton* Button2;

  void DriveComboBox1Change();
  void DirectoryListBox1Change();
  void FileListBox1Change();
  void HexClick();
  void Button1Click();
  void Button2Click();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void BuildLayout();
  void ShowDirectory(const QString& path);
  // Lists the files of the directory shown, again after a save has added one.
  void ListFiles();
  void SelectDriveQuietly(const QString& root);
  bool AskReplace(const QString& name);
  void ShowWriteError();

  CurrentBytes currentBytes_;
  std::function<QString()> hexText_;
  QString startupDirectory_;
  QString directory_;
  QStringList drives_;
  // The directory last shown on each drive, taken up again when the drive is chosen.
  QHash<QString, QString> driveDirectory_;
  bool shownBefore_ = false;
};
