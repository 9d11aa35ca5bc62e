#include "app/capture_load.h"

#include <QFile>

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "pcapfile/saved_file.h"

namespace {

QString Reason(int error) {
  return QString::fromLocal8Bit(std::strerror(error));
}

QString CannotOpen(const QString& path, const QString& reason) {
  return QStringLiteral("Cannot open %1: %2.").arg(path, reason);
}

QString Frames(uint32_t n) {
  return n == 1 ? QStringLiteral("1 frame") : QStringLiteral("%1 frames").arg(n);
}

}  // namespace

TCaptureLoad::TCaptureLoad(QWidget* window, const QString& path, uint64_t size)
    : TFileJob(window, QStringLiteral("Opening %1 ...").arg(path)), path_(path), size_(size) {}

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
  std::unique_ptr<TCaptureLoad> load(new TCaptureLoad(window, path, static_cast<uint64_t>(st.st_size)));

  if (file.capture) {
    load->reader_ = std::make_unique<netvane::CaptureReader>();
    if (!load->reader_->Open(file.stream)) {
      why = CannotOpen(path, QString::fromStdString(load->reader_->error()));
      return nullptr;
    }
    if (!load->reader_->IsEthernet()) {
      why = QStringLiteral(
                "Cannot open %1: its link type is %2, not Ethernet. Netvane lists Ethernet frames only.")
                .arg(path, QString::fromStdString(load->reader_->LinkTypeName()));
      return nullptr;
    }
    netvane::CaptureRecord first;
    switch (load->reader_->Next(first)) {
      case netvane::CaptureReader::Step::Frame:
        load->pending_ = true;
        load->frame_.assign(first.bytes.begin(), first.bytes.end());
        load->stamp_ = {first.seconds, first.microseconds, first.wireLength};
        break;
      case netvane::CaptureReader::Step::End:
        load->reader_.reset();  // a capture without frames
        break;
      case netvane::CaptureReader::Step::Damaged:
        why = QStringLiteral("Cannot open %1: it is damaged or cut short before its first frame: %2.")
                  .arg(path, QString::fromStdString(load->reader_->error()));
        return nullptr;
    }
    return load;
  }

  // A saved frame is read whole: within what a frame file can hold.
  if (static_cast<uint64_t>(st.st_size) > kMaxFrameFileBytes) {
    std::fclose(file.stream);
    why = CannotOpen(path, QStringLiteral("it is not a capture file (pcap or pcapng), and at %1 bytes it is "
                                          "too big to be a saved frame")
                               .arg(static_cast<qulonglong>(st.st_size)));
    return nullptr;
  }
  if (!netvane::ReadSavedFrame(file.stream, kMaxFrameFileBytes, load->frame_, error)) {
    why = CannotOpen(path, QString::fromLocal8Bit(error.c_str()));
    return nullptr;
  }
  load->stamp_ = netvane::StampOfNow();
  load->pending_ = true;
  return load;
}

void TCaptureLoad::SetTarget(netvane::FrameList& frames, std::mutex& appendLock) {
  frames_ = &frames;
  appendLock_ = &appendLock;
}

bool TCaptureLoad::Slice(std::chrono::steady_clock::time_point until) {
  const uint32_t before = stored_;
  bool over = false;
  {
    const std::lock_guard<std::mutex> lock(*appendLock_);
    if (pending_) {
      pending_ = false;
      over = !Store(frame_.data(), static_cast<uint32_t>(frame_.size()), stamp_);
      frame_ = {};
    }
    if (!reader_) over = true;
    netvane::CaptureRecord r;
    // The clock is read every few frames only: reading it costs more than a small frame.
    for (uint32_t n = 0; !over; ++n) {
      if (n % 64 == 63 && std::chrono::steady_clock::now() >= until) break;
      switch (reader_->Next(r)) {
        case netvane::CaptureReader::Step::Frame:
          over = !Store(r.bytes.data(), static_cast<uint32_t>(r.bytes.size()),
                        {r.seconds, r.microseconds, r.wireLength});
          break;
        case netvane::CaptureReader::Step::End:
          over = true;
          break;
        case netvane::CaptureReader::Step::Damaged:
          damaged_ = true;
          damage_ = reader_->error();
          over = true;
          break;
      }
    }
  }
  if (stored_ != before) emit framesStored();
  if (over && reader_) reader_->Close();
  return over;
}

bool TCaptureLoad::Store(const uint8_t* data, uint32_t length, netvane::CaptureStamp stamp) {
  if (frames_->Append(data, length, stamp) == 0) {
    full_ = true;  // the storage budget: what fits stays listed
    return false;
  }
  ++stored_;
  return true;
}

double TCaptureLoad::Progress() const {
  if (!reader_ || size_ == 0) return 1;
  return std::min(1.0, static_cast<double>(reader_->Position()) / static_cast<double>(size_));
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
      .arg(path_, Frames(stored_), QString::fromStdString(damage_), listed);
}
