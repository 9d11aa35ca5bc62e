#include "app/capture_save.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "capture/capture_settings.h"
#include "decode/frame_list.h"

namespace {

QString Reason(int error) {
  return QString::fromLocal8Bit(std::strerror(error));
}

// A new, empty file beside `path` that no one else has; its name, or empty
// with `error` set.
std::string MakeTemporary(const QString& path, int& error) {
  const QFileInfo info(path);
  const QString stem = info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".");
  // Bounded: a name taken by someone else is tried again with another one.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const QString name = stem + QString::number(QRandomGenerator::global()->generate(), 36);
    const QByteArray encoded = QFile::encodeName(name);
    const int fd = ::open(encoded.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      return encoded.toStdString();
    }
    if (errno != EEXIST) break;
  }
  error = errno;
  return {};
}

// The capture's snapshot length, unless a listed frame (opened from a file)
// is longer: readers cut a record down to the file's snapshot length, so the
// file says enough to keep every frame whole.
int SnapshotLength(const netvane::FrameList& frames, uint32_t count) {
  std::size_t longest = 0;
  for (uint32_t n = 1; n <= count; ++n) longest = std::max(longest, frames.Frame(n).size());
  return static_cast<int>(std::max<std::size_t>(longest, netvane::capture_settings::kSnapshotLength));
}

}  // namespace

TCaptureSave::TCaptureSave(QWidget* window, const QString& path, const netvane::FrameList& frames,
                           uint32_t count)
    : TFileJob(window, QStringLiteral("Saving %1 ...").arg(path)),
      path_(path),
      frames_(frames),
      count_(count) {}

TCaptureSave::~TCaptureSave() {
  if (!saved_) Discard();
}

std::unique_ptr<TCaptureSave> TCaptureSave::Open(const QString& path, const netvane::FrameList& frames,
                                                 uint32_t count, QWidget* window, QString& why) {
  std::unique_ptr<TCaptureSave> save(new TCaptureSave(window, path, frames, count));
  const QFileInfo info(path);
  struct stat old {};
  const bool exists = ::stat(QFile::encodeName(path).constData(), &old) == 0;
  if (path.isEmpty() || info.fileName().isEmpty()) {
    save->reason_ = QStringLiteral("no file name");
  } else if (exists && S_ISDIR(old.st_mode)) {
    save->reason_ = QStringLiteral("it is a directory");
  } else if (exists && !S_ISREG(old.st_mode)) {
    save->reason_ = QStringLiteral("it is not a regular file");
  } else {
    int error = 0;
    save->temporary_ = MakeTemporary(path, error);
    if (save->temporary_.empty()) {
      save->reason_ = Reason(error);
    } else {
      // A replaced file keeps its permissions; a new one gets the usual ones.
      if (exists) ::chmod(save->temporary_.c_str(), old.st_mode & 07777);
      if (!save->writer_.Open(save->temporary_, SnapshotLength(frames, count))) {
        save->reason_ = save->WriterReason();
        save->Discard();
      }
    }
  }
  if (!save->reason_.isEmpty()) {
    why = save->FailureText();
    return nullptr;
  }
  return save;
}

QString TCaptureSave::WriterReason() const {
  // The writer names the temporary file; the user knows only the chosen name.
  std::string text = writer_.error();
  const std::string prefix = "cannot write " + temporary_ + ": ";
  if (text.rfind(prefix, 0) == 0) text.erase(0, prefix.size());
  return QString::fromLocal8Bit(text.c_str());
}

bool TCaptureSave::Slice(std::chrono::steady_clock::time_point until) {
  for (uint32_t n = 0; written_ < count_; ++n) {
    if (n % 64 == 63 && std::chrono::steady_clock::now() >= until) return false;
    const uint32_t number = written_ + 1;
    const netvane::CaptureStamp stamp = frames_.Stamp(number);
    if (!writer_.Write(frames_.Frame(number), stamp.seconds, stamp.microseconds, stamp.wireLength)) {
      reason_ = WriterReason();
      Discard();
      return true;
    }
    written_ = number;
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
  // On the disk before it takes the name, so a crash cannot leave a torn file under it.
  const int fd = ::open(temporary_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 || ::fsync(fd) != 0) {
    reason_ = Reason(errno);
    if (fd >= 0) ::close(fd);
    Discard();
    return false;
  }
  ::close(fd);
  if (std::rename(temporary_.c_str(), QFile::encodeName(path_).constData()) != 0) {
    reason_ = Reason(errno);
    Discard();
    return false;
  }
  temporary_.clear();
  return true;
}

void TCaptureSave::Cancelled() {
  Discard();
}

void TCaptureSave::Discard() {
  writer_.Close();
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
  temporary_.clear();
}

double TCaptureSave::Progress() const {
  return count_ == 0 ? 1.0 : static_cast<double>(written_) / count_;
}

QString TCaptureSave::FailureText() const {
  return QStringLiteral("Cannot save the capture as %1: %2. Nothing was written under that name.")
      .arg(path_, reason_);
}
