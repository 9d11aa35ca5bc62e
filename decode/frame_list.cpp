#include "decode/frame_list.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace netvane {

// Storage layout, chosen so that a million frames cost little beyond their bytes:
// - bytes live in large chunks that are never moved or resized, so a span handed
//   out by Frame() stays valid until Clear however many frames follow;
// - frames too big to share a chunk get a block of their own;
// - the index is a list of fixed-size segments of 16-byte entries, so it never
//   copies itself while growing.
// - the budget counts all three: chunks, own blocks and index segments.
// One mutex guards the index and the chunk cursor. A reader copies the entry
// under the lock and then reads bytes that were written before the entry was
// published under the same lock, and that are never written again.
struct FrameList::Impl {
  static constexpr std::size_t kChunkBytes = std::size_t{1} << 20;
  static constexpr std::size_t kOwnBlockBytes = kChunkBytes / 8;
  static constexpr std::size_t kSegmentEntries = std::size_t{1} << 14;

  struct Entry {
    const uint8_t* data;
    uint32_t length;
  };
  static constexpr std::size_t kSegmentBytes = kSegmentEntries * sizeof(Entry);

  mutable std::mutex mutex;
  std::vector<std::unique_ptr<uint8_t[]>> blocks;  // chunks and own blocks
  uint8_t* chunkCursor = nullptr;
  std::size_t chunkLeft = 0;
  std::size_t chunkBytes = 0;  // bytes of all chunks allocated (own blocks excluded)
  std::size_t ownBytes = 0;    // bytes of all own blocks
  std::size_t frameBytes = 0;  // bytes of all stored frames
  std::vector<std::unique_ptr<Entry[]>> segments;
  uint32_t count = 0;
  uint32_t current = 0;
  std::size_t budget = SIZE_MAX;
  bool full = false;

  Entry At(uint32_t number) const {  // 1 <= number <= count, lock held
    const std::size_t i = number - 1;
    return segments[i / kSegmentEntries][i % kSegmentEntries];
  }

  std::size_t Held() const { return chunkBytes + ownBytes + segments.size() * kSegmentBytes; }

  // What the next frame of `length` bytes needs allocated: an index segment
  // when the last one is used up, and a block of its own or a new chunk when
  // the current chunk has no room. A new chunk is cut down to what is left of
  // the budget, so the list fills its budget rather than stopping up to a
  // chunk short. False when that passes the budget.
  bool Plan(uint32_t length, std::size_t& newChunk) const {
    const std::size_t held = Held();
    std::size_t room = budget > held ? budget - held : 0;
    if (count % kSegmentEntries == 0) {
      if (room < kSegmentBytes) return false;
      room -= kSegmentBytes;
    }
    newChunk = 0;
    if (length >= kOwnBlockBytes) return length <= room;
    if (length == 0 || chunkLeft >= length) return true;
    newChunk = std::min(kChunkBytes, room);
    return newChunk >= length;
  }

  const uint8_t* Store(const uint8_t* data, uint32_t length, std::size_t newChunk) {
    if (length == 0) return nullptr;
    uint8_t* target;
    if (length >= kOwnBlockBytes) {
      blocks.push_back(std::make_unique_for_overwrite<uint8_t[]>(length));
      target = blocks.back().get();
      ownBytes += length;
    } else {
      if (newChunk > 0) {
        blocks.push_back(std::make_unique_for_overwrite<uint8_t[]>(newChunk));
        chunkCursor = blocks.back().get();
        chunkLeft = newChunk;
        chunkBytes += newChunk;
      }
      target = chunkCursor;
      chunkCursor += length;
      chunkLeft -= length;
    }
    std::memcpy(target, data, length);
    frameBytes += length;
    return target;
  }

  void Reset() {
    blocks.clear();
    segments.clear();
    chunkCursor = nullptr;
    chunkLeft = chunkBytes = ownBytes = frameBytes = 0;
    count = current = 0;
    full = false;
  }
};

FrameList::FrameList() : d(new Impl) {}
FrameList::~FrameList() {
  delete d;
}

uint32_t FrameList::Append(const uint8_t* data, uint32_t length) {
  // The copy is made under the lock: the chunk cursor is shared state, and
  // a single appender makes the wait of a reader at most one memcpy long.
  std::lock_guard lock(d->mutex);
  std::size_t newChunk = 0;
  // Numbers are 32-bit: after the last one nothing more fits either.
  if (d->full || d->count == UINT32_MAX || !d->Plan(length, newChunk)) {
    d->full = true;
    return 0;
  }
  const std::size_t i = d->count;
  if (i % Impl::kSegmentEntries == 0)
    d->segments.push_back(std::make_unique_for_overwrite<Impl::Entry[]>(Impl::kSegmentEntries));
  const uint8_t* stored = d->Store(data, length, newChunk);
  d->segments[i / Impl::kSegmentEntries][i % Impl::kSegmentEntries] = Impl::Entry{stored, length};
  return ++d->count;
}

void FrameList::SetBudget(std::size_t bytes) {
  std::lock_guard lock(d->mutex);
  d->budget = bytes;
}

std::size_t FrameList::Budget() const {
  std::lock_guard lock(d->mutex);
  return d->budget;
}

bool FrameList::Full() const {
  std::lock_guard lock(d->mutex);
  return d->full;
}

uint32_t FrameList::Count() const {
  std::lock_guard lock(d->mutex);
  return d->count;
}

std::span<const uint8_t> FrameList::Frame(uint32_t number) const {
  std::lock_guard lock(d->mutex);
  if (number == 0 || number > d->count) return {};
  const Impl::Entry e = d->At(number);
  return {e.data, e.length};
}

bool FrameList::Lookup(uint32_t number) {
  std::lock_guard lock(d->mutex);
  if (number == 0 || number > d->count) return false;
  d->current = number;
  return true;
}

uint32_t FrameList::Current() const {
  std::lock_guard lock(d->mutex);
  return d->current;
}

std::span<const uint8_t> FrameList::CurrentFrame() const {
  std::lock_guard lock(d->mutex);
  if (d->current == 0) return {};
  const Impl::Entry e = d->At(d->current);
  return {e.data, e.length};
}

void FrameList::Clear() {
  std::lock_guard lock(d->mutex);
  d->Reset();
}

std::size_t FrameList::OverheadBytes() const {
  std::lock_guard lock(d->mutex);
  const std::size_t chunkSlack = d->chunkBytes + d->ownBytes - d->frameBytes;
  return sizeof(Impl) + d->segments.capacity() * sizeof(void*) +
         d->segments.size() * Impl::kSegmentEntries * sizeof(Impl::Entry) +
         d->blocks.capacity() * sizeof(void*) + chunkSlack;
}

}  // namespace netvane
