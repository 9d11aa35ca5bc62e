// The Save button of the save dialog: the replace question, the write, the error box.
#include "app/Form2.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QScreen>

#include "app/packet_file.h"
#include "pcapfile/saved_file.h"

namespace {

void CentreOnScreen(QWidget* w) {
  w->adjustSize();
  QScreen* screen = w->screen() ? w->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  QRect r = w->frameGeometry();
  r.moveCenter(screen->availableGeometry().center());
  w->move(r.topLeft());
}

}  // namespace

void TForm2::Button1Click() {
  Save();
}

TForm2::SaveResult TForm2::Save() {
  const QString name = Edit1->text();
  // A relative name means the directory the lists show.
  const QString path = name.isEmpty() ? name : QDir(Directory()).filePath(name);
  // Asked before anything touches the file: No leaves it exactly as it was.
  const QFileInfo info(path);
  if (!name.isEmpty() && info.exists() && !info.isDir() && !AskReplace(name)) {
    return SaveResult::Declined;
  }
  // Both boxes checked write hex; neither checked writes binary.
  const netvane::PacketFormat format =
      Hex->isChecked() ? netvane::PacketFormat::Hex : netvane::PacketFormat::Binary;
  std::vector<uint8_t> bytes;
  QString hex;
  if (format == netvane::PacketFormat::Binary && currentBytes_) {
    // A frame whose file changed under the window: nothing is written.
    std::optional<std::vector<uint8_t>> current = currentBytes_();
    if (!current) {
      ShowWriteError();
      return SaveResult::Failed;
    }
    bytes = std::move(*current);
  }
  if (format == netvane::PacketFormat::Hex && hexText_) hex = hexText_();
  const std::vector<uint8_t> content =
      netvane::PacketFileContent(format, bytes, hex.toLatin1().toStdString());
  const bool written =
      netvane::WritePacketFile(path, QByteArrayView(content.data(), static_cast<qsizetype>(content.size())));
  // The file list shows what is there now, the file just written included
  // (and a failed write may have left one too).
  ListFiles();
  if (!written) {
    ShowWriteError();
    return SaveResult::Failed;
  }
  return SaveResult::Saved;
}

bool TForm2::AskReplace(const QString& name) {
  // A child of the dialog, so it stands above the on-top dialog while shown.
  QMessageBox box(QMessageBox::Warning, "Warning", "Replace  " + name + " ?",
                  QMessageBox::Yes | QMessageBox::No, this);
  box.setDefaultButton(QMessageBox::Yes);
  box.setEscapeButton(QMessageBox::No);
  CentreOnScreen(&box);
  return box.exec() == QMessageBox::Yes;
}

void TForm2::ShowWriteError() {
  QMessageBox box(QMessageBox::NoIcon, "File Error", "Error -  write to file.",
                  QMessageBox::Ok | QMessageBox::Cancel, this);
  CentreOnScreen(&box);
  box.exec();
}
