#include "pcapfile/pcap_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace netvane {
namespace {
// Records are handed to the file in pieces of about this size.
constexpr std::size_t kWriteAt = std::size_t{1} << 20;
}  // namespace

PcapWriter::~PcapWriter() {
  Close();
}

// The stream's only sink: libpcap's bytes are collected, not written.
ssize_t PcapWriter::Collect(void* cookie, const char* data, size_t size) {
  auto* self = static_cast<PcapWriter*>(cookie);
  self->pending_.insert(self->pending_.end(), data, data + size);
  return static_cast<ssize_t>(size);
}

void PcapWriter::Fail(int error) {
  if (error_.empty()) error_ = "cannot write " + path_ + ": " + std::strerror(error);
}

bool PcapWriter::Open(const std::string& path, int snapLength) {
  if (path == "-") return Open(STDOUT_FILENO, path, snapLength);
  path_ = path;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    Fail(errno);
    return false;
  }
  ownFd_ = true;  // closed by Close()
  return Open(fd, path, snapLength, true);
}

bool PcapWriter::Open(int fd, const std::string& name, int snapLength, bool cutBack) {
  path_ = name;
  cutBack_ = cutBack;
  fd_ = fd;
  dead_ = pcap_open_dead(DLT_EN10MB, snapLength);
  if (dead_ == nullptr) {
    Fail(ENOMEM);
    return false;
  }
  // Unbuffered: every piece of a record reaches Collect at once, so after
  // pcap_dump returns, pending_ ends with that whole record.
  cookie_io_functions_t io{};
  io.write = &PcapWriter::Collect;
  FILE* stream = fopencookie(this, "w", io);
  if (stream == nullptr) {
    Fail(errno);
    return false;
  }
  std::setvbuf(stream, nullptr, _IONBF, 0);
  dumper_ = pcap_dump_fopen(dead_, stream);
  if (dumper_ == nullptr) {
    error_ = "cannot write " + path_ + ": " + pcap_geterr(dead_);
    std::fclose(stream);
    return false;
  }
  headerEnd_ = pending_.size();
  // The file header goes out now: an unwritable target is known before the
  // capture starts.
  return Flush();
}

bool PcapWriter::Write(std::span<const uint8_t> frame, int64_t seconds, uint32_t microseconds,
                       uint32_t wireLength) {
  if (failed() || dumper_ == nullptr) return false;
  pcap_pkthdr header{};
  header.ts.tv_sec = static_cast<time_t>(seconds);
  header.ts.tv_usec = static_cast<suseconds_t>(microseconds);
  header.caplen = static_cast<bpf_u_int32>(frame.size());
  header.len = std::max<bpf_u_int32>(wireLength, header.caplen);
  pcap_dump(reinterpret_cast<u_char*>(dumper_), &header, frame.data());
  ends_.push_back(pending_.size());
  return pending_.size() < kWriteAt || Flush();
}

bool PcapWriter::Flush() {
  if (failed()) return false;
  std::size_t done = 0;
  while (done < pending_.size()) {
    const ssize_t n = ::write(fd_, pending_.data() + done, pending_.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    const int error = n < 0 ? errno : ENOSPC;
    // Keep what ends with a complete record: the file header, then whole frames.
    std::size_t keep = headerEnd_ > 0 && done >= headerEnd_ ? headerEnd_ : 0;
    for (std::size_t end : ends_) {
      if (end > done) break;
      keep = end;
      ++framesInFile_;
    }
    struct stat st {};
    if (cutBack_ && fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) {
      // A failing cut leaves the torn tail; the error below is the news either way.
      [[maybe_unused]] const int cut = ftruncate(fd_, static_cast<off_t>(fileOffset_ + keep));
    }
    fileOffset_ += keep;
    Fail(error);
    return false;
  }
  fileOffset_ += done;
  framesInFile_ += ends_.size();
  headerEnd_ = 0;
  pending_.clear();
  ends_.clear();
  return true;
}

bool PcapWriter::Close() {
  if (dumper_ != nullptr) {
    Flush();
    pcap_dump_close(dumper_);  // closes the stream; nothing is buffered there
    dumper_ = nullptr;
  }
  if (dead_ != nullptr) {
    pcap_close(dead_);
    dead_ = nullptr;
  }
  if (ownFd_ && fd_ >= 0 && ::close(fd_) != 0) Fail(errno);
  fd_ = -1;
  ownFd_ = cutBack_ = false;
  return !failed();
}

}  // namespace netvane
