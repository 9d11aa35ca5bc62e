#include "app/capture_save.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

#include <algorithm>

#include "capture/capture_settings.h"
#include "pcapfile/frame_filter.h"
#include "pcapfile/frame_list.h"

namespace {

// The capture's snapshot length, unless a listed frame (opened from a file)
// is longer: readers cut a record down to the file's snapshot length, so the
// file says enough to keep every frame whole.
int SnapshotLength(const netvane::FrameList& frames) {
  return static_cast<int>(
      std::max<uint32_t>(frames.LongestFrame(), netvane::capture_settings::kSnapshotLength));
}

}  // namespace

TCaptureSave::TCaptureSave(QWidget* window, const QString& path, const netvane::FrameList& frames,
                           uint32_t count)
    : TFileJob(window, QStringLiteral("Saving %1 ...").arg(path)),
      path_(path),
      file_(path),
      frames_(frames),
      count_(count) {}

TCaptureSave::~TCaptureSave() {
  if (!saved_) Discard();
}

std::unique_ptr<TCaptureSave> TCaptureSave::Open(const QString& path, const netvane::FrameList& frames,
                                                 uint32_t count, QWidget* window, QString& why,
                                                 std::shared_ptr<const netvane::FrameFilter> shown) {
  std::unique_ptr<TCaptureSave> save(new TCaptureSave(window, path, frames, count));
  save->shown_ = std::move(shown);
  const QFileInfo info(path);
  struct stat old {};
  const bool exists = ::stat(QFile::encodeName(path).constData(), &old) == 0;
  if (path.isEmpty() || info.fileName().isEmpty()) {
    save->reason_ = QStringLiteral("no file name");
  } else if (exists && S_ISDIR(old.st_mode)) {
    save->reason_ = QStringLiteral("it is a directory");
  } else if (exists && !S_ISREG(old.st_mode)) {
    save->reason_ = QStringLiteral("it is not a regular file");
  } else if (!save->file_.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
    // No direct-write fallback: a save that cannot go through a temporary file
    // is refused rather than left half-written under the chosen name.
    save->reason_ = save->file_.errorString();
  } else if (!save->writer_.Open(save->file_.handle(), QFile::encodeName(path).toStdString(),
                                 SnapshotLength(frames))) {
    save->reason_ = save->WriterReason();
    save->Discard();
  }
  if (!save->reason_.isEmpty()) {
    why = save->FailureText();
    return nullptr;
  }
  return save;
}

QString TCaptureSave::WriterReason() const {
  // The message box names the file already.
  std::string text = writer_.error();
  const std::string prefix = "cannot write " + QFile::encodeName(path_).toStdString() + ": ";
  if (text.rfind(prefix, 0) == 0) text.erase(0, prefix.size());
  return QString::fromLocal8Bit(text.c_str());
}

bool TCaptureSave::Slice(std::chrono::steady_clock::time_point until) {
  if (written_ < count_) {
    // The records are read in large blocks, in order.
    bool failed = false;
    std::string unreadable;
    uint32_t n = 0;
    frames_.ForEachRecord(
        written_ + 1, count_,
        [&](uint32_t number, std::span<const uint8_t> bytes, const netvane::CaptureStamp& stamp) {
          // A frame whose file changed under the window: its loss is not hidden.
          if (bytes.empty() && stamp.wireLength == 0 && stamp.seconds == 0 &&
              !frames_.ReadFrame(number, scratch_, &unreadable)) {
            reason_ = QStringLiteral("frame %1 cannot be read: %2")
                          .arg(number)
                          .arg(QString::fromLocal8Bit(unreadable.c_str()));
            failed = true;
            return false;
          }
          if (shown_ && !shown_->Matches(bytes, stamp.wireLength)) {
            written_ = number;
            return ++n % 64 != 0 || std::chrono::steady_clock::now() < until;
          }
          if (!writer_.Write(bytes, stamp.seconds, stamp.microseconds, stamp.wireLength)) {
            reason_ = WriterReason();
            failed = true;
            return false;
          }
          written_ = number;
          return ++n % 64 != 0 || std::chrono::steady_clock::now() < until;
        });
    if (failed) {
      Discard();
      return true;
    }
    if (written_ < count_) return false;
  }
  saved_ = Commit();
  return true;
}

bool TCaptureSave::Commit() {
  if (!writer_.Close()) {
    reason_ = WriterReason();
    Discard();
    return false;
  }
  // Synced to the disk, then renamed into place.
  if (!file_.commit()) {
    reason_ = file_.errorString();
    return false;
  }
  return true;
}

void TCaptureSave::Cancelled() {
  Discard();
}

void TCaptureSave::Discard() {
  writer_.Close();
  if (file_.isOpen()) file_.cancelWriting();
}

double TCaptureSave::Progress() const {
  return count_ == 0 ? 1.0 : static_cast<double>(written_) / count_;
}

QString TCaptureSave::FailureText() const {
  return QStringLiteral("Cannot save the capture as %1: %2. Nothing was written under that name.")
      .arg(path_, reason_);
}
