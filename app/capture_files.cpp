// Whole captures in and out of the main window: the packet list's context
// menu and its shortcuts, file drops, and what the window does around a load
// or a save (the refusal while capturing, the question before replacing listed
// frames, the messages).
#include <QAction>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QUrl>

#include "app/Form1.h"
#include "app/capture_load.h"
#include "app/capture_save.h"
#include "app/display_filter.h"
#include "app/exception_report.h"
#include "app/frame_views.h"
#include "app/packet_list_model.h"

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

void TForm1::Tell(int icon, const QString& text) {
  QMessageBox box(static_cast<QMessageBox::Icon>(icon), QString::fromLatin1(netvane::kApplicationTitle), text,
                  QMessageBox::Ok, this);
  box.exec();
}

bool TForm1::RefusedWhileCapturing() {
  if (!FCapturing) return false;
  Tell(QMessageBox::Information, QStringLiteral("Pause or stop the capture before opening a capture file."));
  return true;
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
    Tell(QMessageBox::Warning, why);
    return false;
  }
  ListNewFrames();
  if (FModel->listed() > 0) {
    QMessageBox ask(
        QMessageBox::Question, QString::fromLatin1(netvane::kApplicationTitle),
        QStringLiteral("Replace the %1 listed frames with the frames of %2?").arg(FModel->listed()).arg(path),
        QMessageBox::Yes | QMessageBox::No, this);
    ask.setDefaultButton(QMessageBox::Yes);
    ask.setEscapeButton(QMessageBox::No);
    if (ask.exec() != QMessageBox::Yes) return false;
    // The question had an event loop of its own.
    if (FCapturing || FJob) return false;
  }
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
  if (load.outcome() == TCaptureLoad::Outcome::Damaged) Tell(QMessageBox::Warning, load.DamageText());
}

void TForm1::SaveCaptureClick() {
  if (FJob) return;
  // Under a display filter the shown frames are saved, and the dialog says so.
  ListNewFrames();
  const QString title = FFilter->filter()
                            ? QStringLiteral("Save the %1 frames the filter shows as").arg(FModel->listed())
                            : QStringLiteral("Save capture as");
  QFileDialog dialog(this, title, FFileDirectory, QStringLiteral("Captures (*.pcap);;All files (*)"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix(QStringLiteral("pcap"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  const QString path = dialog.selectedFiles().constFirst();
  FFileDirectory = QFileInfo(path).absolutePath();
  SaveCaptureFile(path);
}

bool TForm1::SaveCaptureFile(const QString& path) {
  if (FJob) return false;
  ListNewFrames();
  QString why;
  std::unique_ptr<TCaptureSave> save =
      TCaptureSave::Open(path, FFrames, FModel->covered(), this, why, FFilter->filter());
  if (!save) {
    Tell(QMessageBox::Warning, why);
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
  if (!save.saved() && !save.cancelled()) Tell(QMessageBox::Warning, save.FailureText());
}

void TForm1::EndFileJob() {
  if (TFileJob* job = FJob.data()) {
    if (qobject_cast<TCaptureSave*>(job) != nullptr)
      job->RunToEnd();
    else
      job->Cancel();
  }
}
