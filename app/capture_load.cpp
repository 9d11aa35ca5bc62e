#include "app/capture_load.h"

#include <QFile>

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "pcapfile/capture_reader.h"
#include "pcapfile/saved_file.h"

namespace {

QString Reason(int error) {
  return QString::fromLocal8Bit(std::strerror(error));
}

QString CannotOpen(const QString& path, const QString& reason) {
  return QStringLiteral("Cannot open %1: %2.").arg(path, reason);
}

// A file without a frame would replace the listed frames with nothing (or
// with one empty frame): it is refused as what it is.
QString HoldsNoFrames(const QString& path) {
  return CannotOpen(path, QStringLiteral("it holds no frames"));
}

QString Frames(uint32_t n) {
  return n == 1 ? QStringLiteral("1 frame") : QStringLiteral("%1 frames").arg(n);
}

}  // namespace

TCaptureLoad::TCaptureLoad(QWidget* window, const QString& path)
    : TFileJob(window, QStringLiteral("Opening %1 ...").arg(path)), path_(path) {}

TCaptureLoad::~TCaptureLoad() = default;

std::unique_ptr<TCaptureLoad> TCaptureLoad::Open(const QString& path, QWidget* window, QString& why) {
  const QByteArray name = QFile::encodeName(path);
  // Only regular files: a pipe or a device could keep the UI thread waiting for ever.
  struct stat st {};
  if (::stat(name.constData(), &st) != 0) {
    why = CannotOpen(path, Reason(errno));
    return nullptr;
  }
  if (!S_ISREG(st.st_mode)) {
    why = CannotOpen(path, QStringLiteral("it is not a regular file"));
    return nullptr;
  }
  netvane::SavedFile file;
  std::string error;
  if (!netvane::OpenSavedFile(name.constData(), file, error)) {
    why = CannotOpen(path, QString::fromLocal8Bit(error.c_str()));
    return nullptr;
  }
  std::unique_ptr<TCaptureLoad> load(new TCaptureLoad(window, path));

  if (file.capture) {
    load->capture_ = true;
    {
      // libpcap reads the file header first, so a file it refuses is refused
      // here with its words, as netvane-dump refuses it.
      netvane::CaptureReader reader;
      if (!reader.Open(file.stream)) {
        why = CannotOpen(path, QString::fromStdString(reader.error()));
        return nullptr;
      }
      if (!reader.IsEthernet()) {
        why = QStringLiteral(
                  "Cannot open %1: its link type is %2, not Ethernet. Netvane lists Ethernet frames only.")
                  .arg(path, QString::fromStdString(reader.LinkTypeName()));
        return nullptr;
      }
    }
    load->staged_ = std::make_unique<netvane::FrameList>();
    if (!load->staged_->OpenCapture(name.toStdString(), error)) {
      why = CannotOpen(path, QString::fromLocal8Bit(error.c_str()));
      return nullptr;
    }
    // Indexed up to its first frame, so none was found in the whole file.
    if (load->staged_->Count() == 0) {
      why = HoldsNoFrames(path);
      return nullptr;
    }
    return load;
  }

  // A saved frame is read whole.
  if (!netvane::ReadSavedFrame(file.stream, load->frame_, error)) {
    why = CannotOpen(path, QString::fromLocal8Bit(error.c_str()));
    return nullptr;
  }
  if (load->frame_.empty()) {
    why = HoldsNoFrames(path);
    return nullptr;
  }
  load->stamp_ = netvane::StampOfNow();
  return load;
}

void TCaptureLoad::SetTarget(netvane::FrameList& frames, std::mutex& appendLock) {
  frames_ = &frames;
  appendLock_ = &appendLock;
  const std::lock_guard<std::mutex> lock(appendLock);
  if (staged_) {
    frames.Adopt(*staged_);
    staged_.reset();
  } else {
    frames.Clear();
  }
}

bool TCaptureLoad::Slice(std::chrono::steady_clock::time_point until) {
  bool over = true;
  {
    const std::lock_guard<std::mutex> lock(*appendLock_);
    if (capture_) {
      switch (frames_->IndexSome(until)) {
        case netvane::FrameList::Indexing::More:
          over = false;
          break;
        case netvane::FrameList::Indexing::End:
          break;
        case netvane::FrameList::Indexing::Damaged:
          damaged_ = true;
          damage_ = frames_->IndexError();
          break;
        case netvane::FrameList::Indexing::Full:
          full_ = true;  // the storage budget: what fits stays listed
          break;
      }
    } else {
      full_ = frames_->Append(frame_.data(), static_cast<uint32_t>(frame_.size()), stamp_) == 0 ||
              !frames_->Flush();
      frame_ = {};
    }
  }
  const uint32_t before = stored_;
  stored_ = frames_->Count();
  if (stored_ != before) emit framesStored();
  return over;
}

double TCaptureLoad::Progress() const {
  return frames_ != nullptr ? frames_->IndexedShare() : 0.0;
}

TCaptureLoad::Outcome TCaptureLoad::outcome() const {
  if (cancelled()) return Outcome::Cancelled;
  if (full_) return Outcome::Full;
  if (damaged_) return Outcome::Damaged;
  return Outcome::Complete;
}

QString TCaptureLoad::DamageText() const {
  const QString listed = stored_ == 1
                             ? QStringLiteral("The frame before the damage is listed.")
                             : QStringLiteral("The %1 before the damage are listed.").arg(Frames(stored_));
  return QStringLiteral("%1 is damaged or cut short after %2: %3. %4")
      .arg(path_, Frames(stored_), QString::fromLocal8Bit(damage_.c_str()), listed);
}
