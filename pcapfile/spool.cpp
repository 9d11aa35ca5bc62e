#include "pcapfile/spool.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "pcapfile/capture_format.h"
#include "pcapfile/frame_index.h"
#include "pcapfile/frame_reader.h"
#include "pcapfile/pcap_writer.h"

namespace netvane {
namespace {

constexpr const char* kPrefix = "spool-";
constexpr const char* kSuffix = ".pcap";
// The free space is read again after this many bytes.
constexpr uint64_t kRecheckBytes = uint64_t{16} << 20;
// Queued frames are written at the latest when the last write is this old.
constexpr auto kFlushAfter = std::chrono::milliseconds(2);

// A directory of the user's own: made with mode 0700 where missing, and
// refused when it is a link or belongs to someone else (the temporary
// directory is shared).
bool OwnDirectory(const std::string& path, std::string& error) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    error = "cannot make " + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
    error = path + " is not a directory of this user's";
    return false;
  }
  return true;
}

std::string Environment(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr && v[0] == '/' ? std::string(v) : std::string();
}

// The default places, in the order they are tried.
std::vector<std::string> DefaultDirectories() {
  std::vector<std::string> out;
  std::string cache = Environment("XDG_CACHE_HOME");
  if (cache.empty() && !Environment("HOME").empty()) cache = Environment("HOME") + "/.cache";
  if (!cache.empty()) out.push_back(cache + "/netvane");
  std::string temp = Environment("TMPDIR");
  if (temp.empty()) temp = "/tmp";
  out.push_back(temp + "/netvane-" + std::to_string(::geteuid()));
  return out;
}

int CreateIn(const std::string& directory, std::string& path, std::string& error) {
  // The cache directory itself may not exist yet.
  const std::size_t slash = directory.rfind('/');
  if (slash != std::string::npos && slash > 0) ::mkdir(directory.substr(0, slash).c_str(), 0700);
  if (!OwnDirectory(directory, error)) return -1;
  static std::atomic<unsigned> serial{0};
  path = directory + "/" + kPrefix + std::to_string(::getpid()) + "-" + std::to_string(serial++) + kSuffix;
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    error = "cannot create " + path + ": " + std::strerror(errno);
    return -1;
  }
  ::unlink(path.c_str());
  return fd;
}

}  // namespace

int CreateSpool(const std::string& directory, std::string& path, std::string& error) {
  if (!directory.empty()) return CreateIn(directory, path, error);
  std::string first;
  for (const std::string& d : DefaultDirectories()) {
    const int fd = CreateIn(d, path, error);
    if (fd >= 0) return fd;
    if (first.empty()) first = error;
  }
  error = first;
  return -1;
}

void RemoveStaleSpools() {
  for (const std::string& d : DefaultDirectories()) {
    DIR* dir = ::opendir(d.c_str());
    if (dir == nullptr) continue;
    while (const dirent* e = ::readdir(dir)) {
      const std::string name = e->d_name;
      if (!name.starts_with(kPrefix) || !name.ends_with(kSuffix)) continue;
      struct stat st {};
      const std::string path = d + "/" + name;
      if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid())
        ::unlink(path.c_str());
    }
    ::closedir(dir);
  }
}

uint64_t SpoolRoom(int fd) {
  struct statvfs fs {};
  if (::fstatvfs(fd, &fs) != 0) return 0;
  const uint64_t unit = fs.f_frsize != 0 ? fs.f_frsize : fs.f_bsize;
  const uint64_t free = uint64_t{fs.f_bavail} * unit;
  const uint64_t reserve = std::max(uint64_t{1} << 30, uint64_t{fs.f_blocks} * unit / 20);
  return free > reserve ? free - reserve : 0;
}

SpoolWriter::SpoolWriter() = default;
SpoolWriter::~SpoolWriter() = default;

bool SpoolWriter::Open(const std::string& directory, FrameReader& file, std::string& error) {
  std::string path;
  const int spool = CreateSpool(directory, path, error);
  if (spool < 0) return false;
  writer_ = std::make_unique<PcapWriter>();
  if (!writer_->Open(spool, path, static_cast<int>(kMaxFrameBytes), true)) {
    error = writer_->error();
    writer_.reset();
    ::close(spool);
    return false;
  }
  file.Attach(spool, path);
  file.format().StartOwn();
  fd_ = spool;
  room_ = SpoolRoom(fd_);
  sinceCheck_ = 0;
  return true;
}

const std::string& SpoolWriter::error() const {
  return writer_->error();
}

// Reads the free space again, less what is queued but not yet in the file.
void SpoolWriter::CheckRoom() {
  struct stat st {};
  const uint64_t written = ::fstat(fd_, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
  const uint64_t unwritten = writer_->size() > written ? writer_->size() - written : 0;
  const uint64_t free = SpoolRoom(fd_);
  room_ = free > unwritten ? free - unwritten : 0;
  sinceCheck_ = 0;
}

uint32_t SpoolWriter::Append(FrameIndex& index, const uint8_t* data, uint32_t length, CaptureStamp stamp,
                             Refusal& why) {
  why = Refusal::None;
  // A record holds no more than this; a longer frame keeps its wire length.
  const uint32_t wire = std::max(stamp.wireLength, length);
  length = std::min(length, kMaxFrameBytes);
  const uint64_t number = uint64_t{appended_} + 1;
  if (number > UINT32_MAX || !index.Fits(static_cast<std::size_t>(number))) {
    why = Refusal::Memory;
    Flush(index);  // what was taken before becomes readable now
    return 0;
  }
  const uint64_t need = kPcapRecordHeaderBytes + length;
  if (need > room_ || sinceCheck_ >= kRecheckBytes) CheckRoom();
  if (need > room_) {
    why = Refusal::Disk;
    Flush(index);
    return 0;
  }
  const uint64_t start = writer_->size();
  if (!writer_->Write({data, length}, stamp.seconds, stamp.microseconds, wire)) {
    PublishWritten(index);
    why = Refusal::WriteError;
    return 0;
  }
  // Both fit: Fits() said so above.
  if (number == 1) index.Write(0, start);
  index.Write(static_cast<std::size_t>(number), writer_->size());
  appended_ = static_cast<uint32_t>(number);
  index.NoteLength(length);
  room_ -= need;
  sinceCheck_ += need;
  if (std::chrono::steady_clock::now() - lastFlush_ >= kFlushAfter)
    Flush(index);
  else
    PublishWritten(index);  // what the writer wrote on its own, a megabyte at a time
  return static_cast<uint32_t>(number);
}

void SpoolWriter::Flush(FrameIndex& index) {
  writer_->Flush();
  lastFlush_ = std::chrono::steady_clock::now();
  flushedSize_ = writer_->size();
  PublishWritten(index);
}

bool SpoolWriter::FlushFew(FrameIndex& index) {
  const auto done = [&] { return writer_->failed() || index.Count() == appended_; };
  if (done()) return true;
  // While frames come fast, the adding thread writes them itself every few
  // milliseconds; here only a few, such as the last ones before a pause.
  constexpr uint64_t kFew = uint64_t{64} << 10;
  if (writer_->size() - flushedSize_ > kFew &&
      std::chrono::steady_clock::now() - lastFlush_ < 2 * kFlushAfter)
    return false;
  Flush(index);
  return done();
}

// Publishes what the writer has written whole.
void SpoolWriter::PublishWritten(FrameIndex& index) {
  const uint64_t inFile = std::min<uint64_t>(writer_->framesInFile(), appended_);
  if (inFile > index.Count()) index.Publish(static_cast<uint32_t>(inFile));
}

}  // namespace netvane
