// Whole captures in and out of the main window: the packet list's context
// menu and its shortcuts, file drops, and what the window does around a load
// or a save (the refusal while capturing, the questions before listed frames
// go, the messages).
#include <QAction>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMimeData>
#include <QUrl>

#include "app/Form1.h"
#include "app/capture_load.h"
#include "app/capture_save.h"
#include "app/display_filter.h"
#include "app/frame_views.h"
#include "app/message_box.h"
#include "app/packet_list_model.h"
#include "app/window_action.h"

namespace {

// The first local file among dragged URLs; empty when there is none.
QString DraggedFile(const QMimeData* data) {
  if (data == nullptr || !data->hasUrls()) return {};
  for (const QUrl& url : data->urls())
    if (url.isLocalFile()) return url.toLocalFile();
  return {};
}

}  // namespace

void TForm1::BuildActions() {
  OpenCaptureAction =
      WindowAction(this, "OpenCaptureAction", "Open capture...", QKeySequence(Qt::CTRL | Qt::Key_O));
  SaveCaptureAction = WindowAction(this, "SaveCaptureAction", "Save capture as...",
                                   QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
  connect(OpenCaptureAction, &QAction::triggered, this, [this] { OpenCaptureClick(); });
  connect(SaveCaptureAction, &QAction::triggered, this, [this] { SaveCaptureClick(); });
  // On the list for its context menu.
  Packets->addAction(OpenCaptureAction);
  Packets->addAction(SaveCaptureAction);
  // A file dropped anywhere opens. Controls that take drops of their own
  // (the text boxes) would take a file's name as text: the window sees file
  // drags before they do.
  setAcceptDrops(true);
  installEventFilter(this);
  for (QWidget* w : findChildren<QWidget*>()) w->installEventFilter(this);
}

TFileJob* TForm1::fileJob() const {
  return FJob.data();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* drag = static_cast<QDragMoveEvent*>(event);
      if (DraggedFile(drag->mimeData()).isEmpty()) break;
      drag->acceptProposedAction();
      return true;
    }
    case QEvent::Drop: {
      auto* drop = static_cast<QDropEvent*>(event);
      const QString file = DraggedFile(drop->mimeData());
      if (file.isEmpty()) break;
      drop->acceptProposedAction();
      // Once the drop has been answered, so the file manager is not kept
      // waiting while a question or a message is open.
      QMetaObject::invokeMethod(
          this, [this, file] { OpenCaptureFile(file); }, Qt::QueuedConnection);
      return true;
    }
    default:
      break;
  }
  return QWidget::eventFilter(watched, event);
}

bool TForm1::RefusedWhileCapturing() {
  if (FState != CaptureState::Capturing) return false;
  netvane::TellBox(this, QMessageBox::Information,
                   QStringLiteral("Pause or stop the capture before opening a capture file."));
  return true;
}

bool TForm1::HasUnsavedFrames() const {
  return FLiveStored.load() > FSavedThrough;
}

bool TForm1::MayDiscardFrames() {
  if (!HasUnsavedFrames()) return true;
  const uint32_t count = FLiveStored.load();
  const uint32_t unsaved = count - FSavedThrough;
  QString text;
  if (count == 1)
    text = QStringLiteral("The captured frame has not been saved. Save it before it is discarded?");
  else if (unsaved == count)
    text = QStringLiteral("The %1 captured frames have not been saved. Save them before they are discarded?")
               .arg(count);
  else  // a save wrote the first ones; Save writes them all again
    text = QStringLiteral(
               "%1 of the %2 captured frames %3 not been saved. Save the capture before it is discarded?")
               .arg(unsaved)
               .arg(count)
               .arg(unsaved == 1 ? QStringLiteral("has") : QStringLiteral("have"));
  const QMessageBox::StandardButton answer = netvane::AskBox(
      this, QMessageBox::Warning, text, QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel,
      QMessageBox::Save, QMessageBox::Cancel);
  if (answer == QMessageBox::Discard) return true;
  if (answer != QMessageBox::Save) return false;
  // The frames are about to go, so the save is written to its end before
  // anything else happens, as when the window closes during a save.
  // Every frame goes, so every frame is saved, whatever a display filter shows.
  const QString path = AskSavePath(false);
  if (path.isEmpty() || !SaveCaptureFile(path, false)) return false;
  if (TFileJob* job = FJob.data()) job->RunToEnd();
  return FSaved;
}

void TForm1::OpenCaptureClick() {
  if (FJob) return;  // one file at a time; its progress dialog is showing
  // Said before the file dialog, so no file is chosen in vain.
  if (RefusedWhileCapturing()) return;
  const QString path =
      QFileDialog::getOpenFileName(this, QStringLiteral("Open capture"), FFileDirectory,
                                   QStringLiteral("All files (*);;Captures (*.pcap *.pcapng *.cap)"));
  if (path.isEmpty()) return;
  FFileDirectory = QFileInfo(path).absolutePath();
  OpenCaptureFile(path);
}

bool TForm1::OpenCaptureFile(const QString& path) {
  if (FJob || RefusedWhileCapturing()) return false;
  QString why;
  std::unique_ptr<TCaptureLoad> load = TCaptureLoad::Open(path, this, why);
  if (!load) {
    netvane::TellBox(this, QMessageBox::Warning, why);
    return false;
  }
  ListNewFrames();
  if (HasUnsavedFrames()) {
    if (!MayDiscardFrames()) return false;
  } else if (FModel->listed() > 0) {
    const QString text =
        QStringLiteral("Replace the %1 listed frames with the frames of %2?").arg(FModel->listed()).arg(path);
    if (netvane::AskBox(this, QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No,
                        QMessageBox::Yes, QMessageBox::No) != QMessageBox::Yes)
      return false;
  }
  // The questions had event loops of their own.
  if (FState == CaptureState::Capturing || FJob) return false;
  {
    const std::lock_guard<std::mutex> lock(FAppendLock);
    FTakeLive.store(false);
  }
  ClearPackets();
  FViews->ShowNoFrame();
  EnterStoppedState();
  load->SetTarget(FFrames, FAppendLock);
  TCaptureLoad* job = load.release();
  job->setParent(this);
  connect(job, &TCaptureLoad::framesStored, this, &TForm1::FramesStored);
  connect(job, &TFileJob::finished, this, [this, job] { LoadFinished(*job); });
  FJob = job;
  job->Begin();
  return true;
}

void TForm1::LoadFinished(TCaptureLoad& load) {
  FJob = nullptr;
  load.deleteLater();
  ListNewFrames();
  // Also when the file held no frame at all.
  Captured->setText(QString::number(FFrames.Count()));
  Captured->adjustSize();
  // A full list has told the user in its own box.
  if (load.outcome() == TCaptureLoad::Outcome::Damaged)
    netvane::TellBox(this, QMessageBox::Warning, load.DamageText());
}

void TForm1::SaveCaptureClick() {
  if (FJob) return;
  const QString path = AskSavePath();
  if (!path.isEmpty()) SaveCaptureFile(path);
}

QString TForm1::AskSavePath(bool shownOnly) {
  // Under a display filter the shown frames are saved, and the dialog says so.
  ListNewFrames();
  const QString title = shownOnly && FFilter->filter()
                            ? QStringLiteral("Save the %1 frames the filter shows as").arg(FModel->listed())
                            : QStringLiteral("Save capture as");
  QFileDialog dialog(this, title, FFileDirectory, QStringLiteral("Captures (*.pcap);;All files (*)"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix(QStringLiteral("pcap"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  const QString path = dialog.selectedFiles().constFirst();
  FFileDirectory = QFileInfo(path).absolutePath();
  return path;
}

bool TForm1::SaveCaptureFile(const QString& path, bool shownOnly) {
  if (FJob) return false;
  FSaved = false;
  ListNewFrames();
  QString why;
  std::unique_ptr<TCaptureSave> save = TCaptureSave::Open(path, FFrames, FModel->covered(), this, why,
                                                          shownOnly ? FFilter->filter() : nullptr);
  if (!save) {
    netvane::TellBox(this, QMessageBox::Warning, why);
    return false;
  }
  TCaptureSave* job = save.release();
  job->setParent(this);
  connect(job, &TFileJob::finished, this, [this, job] { SaveFinished(*job); });
  FJob = job;
  job->Begin();
  return true;
}

void TForm1::SaveFinished(TCaptureSave& save) {
  FJob = nullptr;
  save.deleteLater();
  FSaved = save.saved();
  // Live frames after the saved ones (the capture went on meanwhile) are still
  // unsaved, and so are the frames a display filter left out of the file.
  if (FSaved && !save.filtered()) FSavedThrough = std::max(FSavedThrough, save.count());
  if (!save.saved() && !save.cancelled()) netvane::TellBox(this, QMessageBox::Warning, save.FailureText());
}

void TForm1::EndFileJob() {
  if (TFileJob* job = FJob.data()) {
    if (qobject_cast<TCaptureSave*>(job) != nullptr)
      job->RunToEnd();
    else
      job->Cancel();
  }
}
