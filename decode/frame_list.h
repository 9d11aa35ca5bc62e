#pragma once
// The list of accepted frames: entries numbered from 1 in acceptance order,
// a head entry 0 without bytes, the current entry of the row selected last.
// One thread may Append while one other thread reads, without waiting on it;
// Clear, Lookup and the current entry belong to that reading (UI) thread, and
// Clear must not run concurrently with Append.
//
// The list holds at most its budget of bytes: the frames' copies and the
// index. The first frame that does not fit makes the list full; from then on
// every frame is refused until Clear, so the stored frames are always an
// unbroken run of what was offered, numbered without gaps.

#include <cstddef>
#include <cstdint>
#include <span>

namespace netvane {

class FrameList {
 public:
  FrameList();
  ~FrameList();
  FrameList(const FrameList&) = delete;
  FrameList& operator=(const FrameList&) = delete;

  // Stores a copy of the `length` bytes at `data` under the next number and
  // returns that number; 0 when the list is full (the frame passes the budget,
  // or all 32-bit numbers are used up) and the frame is not stored.
  uint32_t Append(const uint8_t* data, uint32_t length);
  // Bytes the list may hold; no limit until set. A smaller budget than what
  // is held already keeps the stored frames and refuses the next one.
  void SetBudget(std::size_t bytes);
  std::size_t Budget() const;
  // A frame has been refused since the last Clear.
  bool Full() const;
  // Number of the newest entry (0 when nothing is stored).
  uint32_t Count() const;
  // Bytes of entry `number`; empty for the head entry and unknown numbers.
  // The span stays valid until Clear.
  std::span<const uint8_t> Frame(uint32_t number) const;

  // Hit (1 <= number <= Count): the entry becomes current, true. Miss: false, nothing changes.
  bool Lookup(uint32_t number);
  uint32_t Current() const;
  std::span<const uint8_t> CurrentFrame() const;

  // Drops every frame; the list is no longer full. The budget stays.
  void Clear();
  // Bytes held beyond the frames' own bytes (index, chunk slack); for benchmarks.
  std::size_t OverheadBytes() const;

 private:
  struct Impl;
  Impl* d;
};

}  // namespace netvane
