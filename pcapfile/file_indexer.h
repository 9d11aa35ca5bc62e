#pragma once
// Indexes a capture file in place: reads its record headers in blocks, in
// slices of time, and publishes each frame's place in the frame index. A frame
// is published once the next one is found (or the file ends): only then is its
// bound known, since blocks without frames may follow it in a pcapng file, and
// an entry a reader may see is never written again.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace netvane {

class FrameIndex;
class FrameReader;

class FileIndexer {
 public:
  // Opens `path` into `file` and reads its file header. False with the reason.
  bool Open(const std::string& path, FrameReader& file, std::string& error);

  enum class Step { More, End, Damaged, Full };
  // Indexes on until `until` or until `frames` more are published: More to
  // come, the End of the file, Damaged (error() says why; the frames before
  // are published), or Full (an entry passes the index's budget).
  Step Index(FrameIndex& index, FrameReader& file, std::chrono::steady_clock::time_point until,
             uint32_t frames);
  const std::string& error() const { return error_; }
  // Share of the file indexed so far, 0 to 1.
  double Share() const;
  // Gives back the read block's memory once indexing is over.
  void DropBlock();

 private:
  bool Refill(int fd, uint64_t at, uint64_t need);
  // Takes the frame record [start, end) of `length` bytes: publishes the one before it.
  bool Take(FrameIndex& index, uint64_t start, uint64_t end, uint32_t length);
  // Publishes the frame taken last, bounded by its own end.
  bool Finish(FrameIndex& index);

  uint64_t next_ = 0;  // where the next record starts
  uint64_t fileSize_ = 0;
  // The frame found last, not yet published: its end and length.
  bool pending_ = false;
  uint64_t pendingEnd_ = 0;
  uint32_t pendingLength_ = 0;
  uint32_t taken_ = 0;  // frames found, the pending one included
  std::unique_ptr<uint8_t[]> block_;
  std::size_t blockCapacity_ = 0;
  uint64_t blockStart_ = 0;
  std::size_t blockLength_ = 0;
  bool blockAtEnd_ = false;  // the block reaches the file's end
  std::string error_;
};

}  // namespace netvane
