#include "pcapfile/frame_reader.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "pcapfile/frame_index.h"

namespace netvane {
namespace {

CaptureStamp StampOf(const FrameRecord& r) {
  return {r.seconds, r.microseconds, std::max(r.wireLength, r.capturedLength)};
}

}  // namespace

ssize_t ReadAt(int fd, uint8_t* to, std::size_t length, uint64_t at) {
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n = ::pread(fd, to + done, length - done, static_cast<off_t>(at + done));
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      if (done == 0) return -1;
      break;
    }
  }
  return static_cast<ssize_t>(done);
}

void FrameReader::Attach(int fd, std::string name) {
  Close();
  fd_ = fd;
  name_ = std::move(name);
}

void FrameReader::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  name_.clear();
  format_.Reset();
}

bool FrameReader::Whole(std::span<const uint8_t> bytes, uint64_t start, uint64_t bound,
                        FrameRecord& r) const {
  if (!format_.ReadFrame(bytes, start, r)) return false;
  return start + r.size <= bound && (!format_.contiguous() || start + r.size == bound);
}

bool FrameReader::Read(const FrameIndex& index, uint32_t number, uint32_t maxBytes,
                       std::vector<uint8_t>* bytes, CaptureStamp* stamp, std::string* why) const {
  const uint64_t start = index.Entry(number - 1), bound = index.Entry(number);
  uint8_t head[256];
  const std::size_t want = static_cast<std::size_t>(std::min<uint64_t>(bound - start, sizeof head));
  const ssize_t got = ReadAt(fd_, head, want, start);
  FrameRecord r;
  if (got < 0 ||
      static_cast<std::size_t>(got) < std::min<std::size_t>(want, CaptureFormat::kFrameHeaderBytes)) {
    if (why != nullptr) *why = got < 0 ? "cannot read " + name_ + ": " + std::strerror(errno) : CutShort();
    return false;
  }
  if (!Whole({head, static_cast<std::size_t>(got)}, start, bound, r)) {
    if (why != nullptr) *why = Changed();
    return false;
  }
  if (stamp != nullptr) *stamp = StampOf(r);
  if (bytes == nullptr) return true;
  const uint32_t take = std::min(r.capturedLength, maxBytes);
  if (r.dataOffset + take <= static_cast<std::size_t>(got)) {
    bytes->assign(head + r.dataOffset, head + r.dataOffset + take);
    return true;
  }
  bytes->resize(take);
  const ssize_t data = ReadAt(fd_, bytes->data(), take, start + r.dataOffset);
  if (data == static_cast<ssize_t>(take)) return true;
  bytes->clear();
  if (why != nullptr) *why = data < 0 ? "cannot read " + name_ + ": " + std::strerror(errno) : CutShort();
  return false;
}

void FrameReader::ForEachRecord(const FrameIndex& index, uint32_t first, uint32_t last,
                                const Visit& visit) const {
  const bool forward = first <= last;
  const auto buffer = std::make_unique_for_overwrite<uint8_t[]>(kReadBlockBytes);
  uint64_t fileEnd = UINT64_MAX;  // where a short read found the file to end
  std::vector<uint8_t> single;
  for (uint32_t k = first;;) {
    // Frames lo..hi, taken from k towards last, whose records fit one block.
    uint32_t lo = k, hi = k;
    if (forward) {
      while (hi < last && index.Entry(hi + 1) - index.Entry(lo - 1) <= kReadBlockBytes) ++hi;
    } else {
      while (lo > last && index.Entry(hi) - index.Entry(lo - 2) <= kReadBlockBytes) --lo;
    }
    const uint64_t start = index.Entry(lo - 1);
    const uint64_t length = index.Entry(hi) - start;
    if (length > kReadBlockBytes) {
      // One frame larger than a block.
      CaptureStamp stamp;
      const bool read = Read(index, k, UINT32_MAX, &single, &stamp, nullptr);
      if (!visit(k, read ? std::span<const uint8_t>(single) : std::span<const uint8_t>(),
                 read ? stamp : CaptureStamp{}))
        return;
    } else {
      ssize_t got = start < fileEnd ? ReadAt(fd_, buffer.get(), static_cast<std::size_t>(length), start) : 0;
      if (got < 0) got = 0;
      if (static_cast<uint64_t>(got) < length)
        fileEnd = std::min(fileEnd, start + static_cast<uint64_t>(got));
      for (uint32_t n = forward ? lo : hi;; n = forward ? n + 1 : n - 1) {
        const uint64_t s = index.Entry(n - 1), e = index.Entry(n);
        FrameRecord r;
        const std::span<const uint8_t> record(buffer.get() + (s - start), static_cast<std::size_t>(e - s));
        const bool whole = e - start <= static_cast<uint64_t>(got) && Whole(record, s, e, r);
        if (!visit(n, whole ? record.subspan(r.dataOffset, r.capturedLength) : std::span<const uint8_t>(),
                   whole ? StampOf(r) : CaptureStamp{}))
          return;
        if (n == (forward ? hi : lo)) break;
      }
    }
    if ((forward ? hi : lo) == last) return;
    k = forward ? hi + 1 : lo - 1;
  }
}

}  // namespace netvane
