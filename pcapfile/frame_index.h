#pragma once
// The index of a frame list: where each frame's record lies in its file, 8
// bytes a frame, readable by any thread without a lock while one thread adds.
//
// Entry k - 1 is where frame k's record starts and entry k bounds it: the
// record ends at entry k, or before it where blocks without frames follow
// (pcapng), since entry k is where frame k + 1 starts. Every entry is written
// once, before the count that covers it is published, and never again until
// Reset: the adder writes entries past Count() only, then publishes the count
// with a release store, and a reader that loads the count with acquire sees
// every entry up to it as it will stay. A lock shared with readers would let
// a busy adder starve the UI thread of it.
//
// Entries live in fixed segments that never move; the directory of segments
// has room for every 32-bit count and never moves either.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace netvane {

class FrameIndex {
 public:
  FrameIndex();
  FrameIndex(const FrameIndex&) = delete;
  FrameIndex& operator=(const FrameIndex&) = delete;

  // --- any thread ---
  // Frames whose entries are written and published.
  uint32_t Count() const { return count_.load(std::memory_order_acquire); }
  // Entry `i`, for i <= a count loaded before.
  uint64_t Entry(std::size_t i) const { return directory_[i / kSegmentEntries][i % kSegmentEntries]; }
  // The longest frame published, and where the last one's record ends.
  uint32_t Longest() const { return longest_.load(std::memory_order_relaxed); }
  uint64_t StoredBytes() const { return storedBytes_.load(std::memory_order_relaxed); }
  // Bytes of memory the segments may take (the directory is a fixed part).
  void SetBudget(std::size_t bytes) { budget_.store(bytes); }
  std::size_t Budget() const { return budget_.load(); }

  // --- the adding thread only (and Reset while nobody reads) ---
  // Whether entry `i` would find room within the budget.
  bool Fits(std::size_t i) const;
  // Writes entry `i`, which no published count covers yet (entry 0 only while
  // nothing is published), making room for it. False, writing nothing, when
  // its segment would pass the budget.
  bool Write(std::size_t i, uint64_t value);
  // Makes frames up to `count` readable; their entries up to `count` are written.
  void Publish(uint32_t count);
  void NoteLength(uint32_t length) {
    if (length > longest_.load(std::memory_order_relaxed)) longest_.store(length, std::memory_order_relaxed);
  }
  // Drops every entry; readers must have ended.
  void Reset();

 private:
  static constexpr std::size_t kSegmentEntries = std::size_t{1} << 14;
  // Entries 0 to Count(), for every 32-bit count.
  static constexpr std::size_t kMaxSegments =
      (std::size_t{UINT32_MAX} + kSegmentEntries) / kSegmentEntries + 1;

  std::atomic<std::size_t> budget_{SIZE_MAX};
  std::unique_ptr<uint64_t*[]> directory_;
  std::atomic<uint32_t> count_{0};
  std::atomic<uint32_t> longest_{0};
  std::atomic<uint64_t> storedBytes_{0};
  std::vector<std::unique_ptr<uint64_t[]>> segments_;  // the adder's
};

}  // namespace netvane
