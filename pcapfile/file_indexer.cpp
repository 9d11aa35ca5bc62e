#include "pcapfile/file_indexer.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <span>

#include "pcapfile/capture_format.h"
#include "pcapfile/frame_index.h"
#include "pcapfile/frame_reader.h"

namespace netvane {

bool FileIndexer::Open(const std::string& path, FrameReader& file, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  file.Attach(fd, path);
  struct stat st {};
  if (::fstat(fd, &st) == 0) fileSize_ = static_cast<uint64_t>(st.st_size);
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  if (!Refill(fd, 0, kReadBlockBytes)) {
    error = error_;
    return false;
  }
  return file.format().Start({block_.get(), blockLength_}, next_, error);
}

bool FileIndexer::Refill(int fd, uint64_t at, uint64_t need) {
  const std::size_t size = static_cast<std::size_t>(std::max<uint64_t>(kReadBlockBytes, need));
  if (size > blockCapacity_) {
    block_ = std::make_unique_for_overwrite<uint8_t[]>(size);
    blockCapacity_ = size;
  }
  const ssize_t got = ReadAt(fd, block_.get(), size, at);
  if (got < 0) {
    error_ = std::string("reading it failed: ") + std::strerror(errno);
    return false;
  }
  blockStart_ = at;
  blockLength_ = static_cast<std::size_t>(got);
  blockAtEnd_ = blockLength_ < size;
  return true;
}

bool FileIndexer::Take(FrameIndex& index, uint64_t start, uint64_t end, uint32_t length) {
  if (taken_ == UINT32_MAX) return false;
  // Entry `taken_` bounds the pending frame and starts this one.
  if (!index.Write(taken_, start)) return false;
  if (pending_) {
    index.NoteLength(pendingLength_);
    index.Publish(taken_);
  }
  ++taken_;
  pending_ = true;
  pendingEnd_ = end;
  pendingLength_ = length;
  return true;
}

bool FileIndexer::Finish(FrameIndex& index) {
  if (!pending_) return true;
  if (!index.Write(taken_, pendingEnd_)) return false;
  pending_ = false;
  index.NoteLength(pendingLength_);
  index.Publish(taken_);
  return true;
}

FileIndexer::Step FileIndexer::Index(FrameIndex& index, FrameReader& file,
                                     std::chrono::steady_clock::time_point until, uint32_t frames) {
  const uint32_t before = index.Count();
  CaptureFormat& format = file.format();
  // Ends with the pending frame published where no more frames follow.
  const auto over = [&](Step step) { return Finish(index) ? step : Step::Full; };
  for (uint32_t k = 1;; ++k) {
    // The clock is read every few records only: reading it costs more than a record.
    if (k % 256 == 0 && std::chrono::steady_clock::now() >= until) return Step::More;
    if (index.Count() - before >= frames) return Step::More;
    const bool inBlock = next_ >= blockStart_ && next_ < blockStart_ + blockLength_;
    const std::span<const uint8_t> bytes =
        inBlock ? std::span<const uint8_t>(block_.get() + (next_ - blockStart_),
                                           blockStart_ + blockLength_ - next_)
                : std::span<const uint8_t>();
    FrameRecord r;
    uint64_t need = 1;
    std::string error;
    const CaptureFormat::Step step =
        bytes.empty() ? CaptureFormat::Step::More : format.Next(bytes, next_, r, need, error);
    switch (step) {
      case CaptureFormat::Step::More:
        if (blockStart_ == next_ && blockAtEnd_) {
          if (bytes.empty()) return over(Step::End);
          error_ = "the file ends inside the record at byte " + std::to_string(next_);
          return over(Step::Damaged);
        }
        if (!Refill(file.fd(), next_, need)) return over(Step::Damaged);
        break;
      case CaptureFormat::Step::Damaged:
        error_ = error + " at byte " + std::to_string(next_);
        return over(Step::Damaged);
      case CaptureFormat::Step::Other:
        next_ += r.size;
        break;
      case CaptureFormat::Step::Frame:
        if (!Take(index, next_, next_ + r.size, r.capturedLength)) return over(Step::Full);
        next_ += r.size;
        break;
    }
  }
}

double FileIndexer::Share() const {
  if (fileSize_ == 0) return 1;
  return std::min(1.0, static_cast<double>(next_) / static_cast<double>(fileSize_));
}

void FileIndexer::DropBlock() {
  block_.reset();
  blockCapacity_ = blockLength_ = 0;
}

}  // namespace netvane
