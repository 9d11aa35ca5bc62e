#include "decode/frame_list.h"

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

  Entry At(uint32_t number) const {  // 1 <= number <= count, lock held
    const std::size_t i = number - 1;
    return segments[i / kSegmentEntries][i % kSegmentEntries];
  }

  const uint8_t* Store(const uint8_t* data, uint32_t length) {
    if (length == 0) return nullptr;
    uint8_t* target;
    if (length >= kOwnBlockBytes) {
      blocks.push_back(std::make_unique_for_overwrite<uint8_t[]>(length));
      target = blocks.back().get();
      ownBytes += length;
    } else {
      if (chunkLeft < length) {
        blocks.push_back(std::make_unique_for_overwrite<uint8_t[]>(kChunkBytes));
        chunkCursor = blocks.back().get();
        chunkLeft = kChunkBytes;
        chunkBytes += kChunkBytes;
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
  if (d->count == UINT32_MAX) return 0;  // numbers are 32-bit; nothing more fits
  const std::size_t i = d->count;
  if (i % Impl::kSegmentEntries == 0)
    d->segments.push_back(std::make_unique_for_overwrite<Impl::Entry[]>(Impl::kSegmentEntries));
  const uint8_t* stored = d->Store(data, length);
  d->segments[i / Impl::kSegmentEntries][i % Impl::kSegmentEntries] = Impl::Entry{stored, length};
  return ++d->count;
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
