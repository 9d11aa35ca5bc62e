#pragma once
// Reading a frame list's frames back from its file, the spool or a capture
// opened in place: one frame with pread, or a run of frames in large
// sequential blocks. Each record is checked against the index, since the file
// may have changed since it was indexed: it must still be a frame record of
// the file that ends within its bound (where the next frame starts, exactly so
// in a pcap file). Any thread may read while the list's adder indexes on.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "pcapfile/capture_format.h"
#include "pcapfile/frame_list.h"

// Reads go through blocks of this size: large enough that a walk over a whole
// capture costs few calls, small enough to stay in the processor's caches.
// The fuzz build makes it small, so that records cross block ends.
#ifndef NETVANE_READ_BLOCK_BYTES
#define NETVANE_READ_BLOCK_BYTES (std::size_t{1} << 20)
#endif

namespace netvane {

class FrameIndex;

inline constexpr std::size_t kReadBlockBytes = NETVANE_READ_BLOCK_BYTES;

// Reads up to `length` bytes at `at`, fewer only at the end of the file;
// -1 (errno set) when nothing could be read.
ssize_t ReadAt(int fd, uint8_t* to, std::size_t length, uint64_t at);

class FrameReader {
 public:
  using Visit =
      std::function<bool(uint32_t number, std::span<const uint8_t> bytes, const CaptureStamp& stamp)>;

  FrameReader() = default;
  ~FrameReader() { Close(); }
  FrameReader(const FrameReader&) = delete;
  FrameReader& operator=(const FrameReader&) = delete;

  // Reads from `fd`, which it closes at Close; `name` is the file's name in reasons.
  void Attach(int fd, std::string name);
  // Closes the file and forgets its format; no reader may be reading.
  void Close();
  int fd() const { return fd_; }
  const std::string& name() const { return name_; }
  // The file's record structure: set up by whoever writes or indexes the
  // file, before the first frame is published.
  CaptureFormat& format() { return format_; }

  // Frame `number` (1 to a count loaded from `index`): its first `maxBytes`
  // bytes, and its stamp. False, with the reason, when it cannot be read.
  bool Read(const FrameIndex& index, uint32_t number, uint32_t maxBytes, std::vector<uint8_t>* bytes,
            CaptureStamp* stamp, std::string* why) const;
  // FrameList::ForEachRecord: frames `first` to `last` (within 1 to a count
  // loaded from `index`), in blocks.
  void ForEachRecord(const FrameIndex& index, uint32_t first, uint32_t last, const Visit& visit) const;

 private:
  std::string CutShort() const { return name_ + " has been cut short since it was opened"; }
  std::string Changed() const { return name_ + " has changed since it was opened"; }
  bool Whole(std::span<const uint8_t> bytes, uint64_t start, uint64_t bound, FrameRecord& r) const;

  int fd_ = -1;
  std::string name_;
  CaptureFormat format_;
};

}  // namespace netvane
