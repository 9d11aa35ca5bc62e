#include "dump/rotating_writer.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace netvane {
namespace {

constexpr int64_t kMicrosecondsPerSecond = 1000000;

int64_t NowMicroseconds(std::time_t& seconds) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  seconds = now.tv_sec;
  return int64_t{now.tv_sec} * kMicrosecondsPerSecond + now.tv_nsec / 1000;
}

// Digits of the highest ring place: tcpdump's width for the file numbers.
int RingWidth(uint32_t files) {
  int width = 0;
  for (uint32_t highest = files - 1; highest > 0; highest /= 10) ++width;
  return width;
}

}  // namespace

RotatingPcapWriter::RotatingPcapWriter(std::string name, int snapLength, RotationOptions options)
    : name_(std::move(name)), snapLength_(snapLength), options_(options) {}

bool RotatingPcapWriter::Open() {
  std::time_t now = 0;
  const int64_t micros = NowMicroseconds(now);
  return StartFile(now, micros);
}

bool RotatingPcapWriter::Write(std::span<const uint8_t> frame, int64_t seconds, uint32_t microseconds,
                               uint32_t wireLength) {
  if (failed() || !file_) return false;
  const int64_t at = seconds * kMicrosecondsPerSecond + microseconds;
  if (framesHere_ > 0 && NeedsNextFile(frame.size(), at) && !StartFile(static_cast<std::time_t>(seconds), at))
    return false;
  if (!file_->Write(frame, seconds, microseconds, wireLength)) return FileFailed();
  ++framesHere_;
  return true;
}

bool RotatingPcapWriter::NeedsNextFile(std::size_t frameLength, int64_t at) const {
  if (options_.maxFileBytes != 0 &&
      file_->size() + kPcapRecordHeaderBytes + frameLength > options_.maxFileBytes)
    return true;
  if (options_.seconds == 0) return false;
  // Time stamps follow the system clock; one set back by a whole period or
  // more also starts a new file, rather than none for that long.
  const int64_t period = int64_t{options_.seconds} * kMicrosecondsPerSecond;
  return at >= fileStart_ + period || at + period <= fileStart_;
}

bool RotatingPcapWriter::Flush() {
  if (failed() || !file_) return false;
  return file_->Flush() || FileFailed();
}

bool RotatingPcapWriter::Close() {
  if (file_ && !failed() && !file_->Close()) FileFailed();
  file_.reset();
  return !failed();
}

bool RotatingPcapWriter::FileFailed() {
  file_->Close();  // cuts the file back to its last complete frame
  if (error_.empty())
    error_ = file_->error() + "; " + path_ + " keeps the first " + std::to_string(file_->framesInFile()) +
             " frames";
  return false;
}

bool RotatingPcapWriter::StartFile(std::time_t start, int64_t startMicroseconds) {
  if (file_ && !file_->Close()) return FileFailed();
  std::string path;
  if (!NextName(start, path)) return false;
  auto next = std::make_unique<PcapWriter>();
  if (!next->Open(path, snapLength_)) {
    error_ = next->error();
    file_.reset();
    return false;
  }
  if (options_.ringFiles != 0) {
    // The place's file of the last round goes, when its name was another.
    const std::size_t place = filesStarted_ % options_.ringFiles;
    if (place == ringNames_.size()) {
      ringNames_.push_back(path);
    } else if (ringNames_[place] != path) {
      if (::unlink(ringNames_[place].c_str()) != 0 && errno != ENOENT) {
        // The ring would outgrow its count of files.
        error_ = "cannot remove " + ringNames_[place] + ": " + std::strerror(errno);
        next->Close();
        file_.reset();
        return false;
      }
      ringNames_[place] = path;
    }
  }
  file_ = std::move(next);
  path_ = std::move(path);
  framesHere_ = 0;
  fileStart_ = startMicroseconds;
  ++filesStarted_;
  return true;
}

bool RotatingPcapWriter::NextName(std::time_t start, std::string& name) {
  std::string base = name_;
  if (options_.seconds != 0 && name_.find('%') != std::string::npos) {
    std::tm local{};
    char expanded[4096];
    const std::size_t length = localtime_r(&start, &local) != nullptr
                                   ? std::strftime(expanded, sizeof expanded, name_.c_str(), &local)
                                   : 0;
    if (length == 0) {
      error_ = "cannot write " + name_ + ": its time conversions give no file name";
      return false;
    }
    base.assign(expanded, length);
  }
  if (!options_.maxFileBytes && !options_.seconds) {
    name = base;  // no rotation: the one file, as named
    return true;
  }
  if (options_.ringFiles != 0) {
    const uint64_t place = filesStarted_ % options_.ringFiles;
    const int width = RingWidth(options_.ringFiles);
    std::string number = std::to_string(place);
    if (width > 0 && number.size() < static_cast<std::size_t>(width))
      number.insert(0, static_cast<std::size_t>(width) - number.size(), '0');
    name = width == 0 ? base : base + number;
    return true;
  }
  // Numbered on; a name a file of this run already has is never reused, so
  // no file of the run is overwritten.
  uint64_t& number = nextNumber_[base];
  do {
    name = number == 0 ? base : base + std::to_string(number);
    ++number;
  } while (!used_.insert(name).second);
  return true;
}

}  // namespace netvane
