#pragma once
// The frames a display filter lets through, as the rows of the packet list
// show them: their numbers, increasing. Four bytes a shown frame, kept in
// chunks of a fixed size, so the mapping grows without ever copying what it
// holds and a big file's filter never needs twice its memory at once.
//
// UI thread only: the thread that runs the filter hands its matches over in
// batches (filter_job.h).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

class TShownFrames {
 public:
  // Numbers a chunk holds (64 KiB).
  static constexpr uint32_t kChunk = 1u << 14;

  uint32_t size() const { return size_; }
  // The number of the frame on row `row` (row < size()).
  uint32_t At(uint32_t row) const { return chunks_[row / kChunk][row % kChunk]; }
  // The row that shows frame `number`; -1 when it is not shown.
  int64_t RowOf(uint32_t number) const;
  // Adds frames after the last one; `numbers` increase and come after it.
  void Append(std::span<const uint32_t> numbers);
  void Clear();
  // Memory held, for benchmarks.
  std::size_t Bytes() const { return chunks_.capacity() * sizeof(void*) + chunks_.size() * kChunk * 4; }

 private:
  std::vector<std::unique_ptr<uint32_t[]>> chunks_;
  uint32_t size_ = 0;
};
