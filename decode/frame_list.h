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
#include <functional>
#include <memory>
#include <span>

namespace netvane {

// When a frame was captured (seconds and microseconds since 1970, UTC) and
// how many bytes it had on the wire, which exceeds the stored bytes when the
// snapshot length cut it. A capture file written from the list carries both.
// The list keeps the seconds as the 32 unsigned bits a pcap record holds.
struct CaptureStamp {
  int64_t seconds = 0;
  uint32_t microseconds = 0;  // as given: below 1,000,000 in a well-formed capture
  uint32_t wireLength = 0;    // 0 when appended: the frame's own length
};

// The present moment as a stamp, for a frame that comes without one.
CaptureStamp StampOfNow();

class FrameList {
 public:
  FrameList();
  ~FrameList();
  FrameList(const FrameList&) = delete;
  FrameList& operator=(const FrameList&) = delete;

  // Stores a copy of the `length` bytes at `data` with its stamp under the
  // next number and returns that number; 0 when the list is full (the frame
  // passes the budget, or all 32-bit numbers are used up) and the frame is not
  // stored. A wire length below `length` is taken as `length`.
  uint32_t Append(const uint8_t* data, uint32_t length, CaptureStamp stamp = {});
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
  // Time stamp and wire length of entry `number`; all zero for the head entry
  // and unknown numbers.
  CaptureStamp Stamp(uint32_t number) const;

  // Calls visit(number, bytes) for every frame from `first` to `last`, both
  // inclusive and within 1..Count(), in that order (backwards when first > last).
  // `bytes` is valid only during the call; a frame that cannot be read is
  // passed with empty bytes. Stops as soon as visit returns false. Callable
  // from any thread while another thread appends; the caller ends the walk
  // before Clear.
  void ForEachFrame(uint32_t first, uint32_t last,
                    const std::function<bool(uint32_t number, std::span<const uint8_t> bytes)>& visit) const;

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
  std::unique_ptr<Impl> d;
};

}  // namespace netvane
