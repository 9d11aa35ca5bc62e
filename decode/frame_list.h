#pragma once
// The list of accepted frames: entries numbered from 1 in acceptance order,
// a head entry 0 without bytes, the current entry of the row selected last.
// One thread may Append while another reads; Clear and Lookup belong to the
// reading (UI) thread and Clear must not run concurrently with Append.

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
  // returns that number (0 only when all 32-bit numbers are used up).
  uint32_t Append(const uint8_t* data, uint32_t length);
  // Number of the newest entry (0 when nothing is stored).
  uint32_t Count() const;
  // Bytes of entry `number`; empty for the head entry and unknown numbers.
  // The span stays valid until Clear.
  std::span<const uint8_t> Frame(uint32_t number) const;

  // Hit (1 <= number <= Count): the entry becomes current, true. Miss: false, nothing changes.
  bool Lookup(uint32_t number);
  uint32_t Current() const;
  std::span<const uint8_t> CurrentFrame() const;

  void Clear();
  // Bytes held beyond the frames' own bytes (index, chunk slack); for benchmarks.
  std::size_t OverheadBytes() const;

 private:
  struct Impl;
  Impl* d;
};

}  // namespace netvane
