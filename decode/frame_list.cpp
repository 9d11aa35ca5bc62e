#include "decode/frame_list.h"

#include <algorithm>
#include <atomic>
#include <chrono>
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
// - the index is a list of fixed-size segments of entries, so it never
//   copies itself while growing; an entry (24 bytes) holds the frame's place,
//   its length, its wire length and its time stamp, the seconds as the 32 bits
//   that a pcap file's record holds.
// - the budget counts all three: chunks, own blocks and index segments.
// Readers take no lock. The appender writes a frame's bytes and its entry (and
// a new segment's place in the directory, which has room for every segment
// 32-bit numbers can need and so never moves), then publishes the new count
// with a release store; a reader that loads the count with acquire sees all of
// that for every number up to it, and none of it is written again until Clear.
// A lock here would let a busy appender, taking it for every frame, starve the
// UI thread of it for tens of milliseconds at a time.
// The appender's own state has a mutex, so that Clear and the overhead figure
// never meet an Append half-way; readers never take it.
struct FrameList::Impl {
  static constexpr std::size_t kChunkBytes = std::size_t{1} << 20;
  static constexpr std::size_t kOwnBlockBytes = kChunkBytes / 8;
  static constexpr std::size_t kSegmentEntries = std::size_t{1} << 14;

  struct Entry {
    const uint8_t* data;
    uint32_t length;
    uint32_t wireLength;
    uint32_t seconds;
    uint32_t microseconds;
  };
  static_assert(sizeof(Entry) == 24);
  static constexpr std::size_t kSegmentBytes = kSegmentEntries * sizeof(Entry);
  static constexpr std::size_t kMaxSegments =
      (std::size_t{UINT32_MAX} + kSegmentEntries - 1) / kSegmentEntries;

  mutable std::mutex mutex;                        // the appender's state below; readers never take it
  std::vector<std::unique_ptr<uint8_t[]>> blocks;  // chunks and own blocks
  uint8_t* chunkCursor = nullptr;
  std::size_t chunkLeft = 0;
  std::size_t chunkBytes = 0;                      // bytes of all chunks allocated (own blocks excluded)
  std::size_t ownBytes = 0;                        // bytes of all own blocks
  std::size_t frameBytes = 0;                      // bytes of all stored frames
  std::vector<std::unique_ptr<Entry[]>> segments;  // owns what the directory points to
  // Left uninitialised: only the pages that segments are written to become resident.
  std::unique_ptr<Entry*[]> directory = std::make_unique_for_overwrite<Entry*[]>(kMaxSegments);
  std::atomic<uint32_t> count{0};
  uint32_t current = 0;  // the reading thread's
  std::atomic<std::size_t> budget{SIZE_MAX};
  std::atomic<bool> full{false};

  // 1 <= number <= a count loaded with acquire.
  Entry At(uint32_t number) const {
    const std::size_t i = number - 1;
    return directory[i / kSegmentEntries][i % kSegmentEntries];
  }

  std::size_t Held() const { return chunkBytes + ownBytes + segments.size() * kSegmentBytes; }

  // What the next frame of `length` bytes needs allocated: an index segment
  // when the last one is used up, and a block of its own or a new chunk when
  // the current chunk has no room. A new chunk is cut down to what is left of
  // the budget, so the list fills its budget rather than stopping up to a
  // chunk short. False when that passes the budget.
  bool Plan(uint32_t length, std::size_t& newChunk) const {
    const std::size_t held = Held();
    const std::size_t limit = budget.load();
    std::size_t room = limit > held ? limit - held : 0;
    if (count.load(std::memory_order_relaxed) % kSegmentEntries == 0) {
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
    count.store(0, std::memory_order_release);
    current = 0;
    blocks.clear();
    segments.clear();
    chunkCursor = nullptr;
    chunkLeft = chunkBytes = ownBytes = frameBytes = 0;
    full.store(false);
  }
};

CaptureStamp StampOfNow() {
  using namespace std::chrono;
  const int64_t us = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
  return {us / 1000000, static_cast<uint32_t>(us % 1000000), 0};
}

FrameList::FrameList() : d(std::make_unique<Impl>()) {}
FrameList::~FrameList() = default;

uint32_t FrameList::Append(const uint8_t* data, uint32_t length, CaptureStamp stamp) {
  std::lock_guard lock(d->mutex);
  const uint32_t count = d->count.load(std::memory_order_relaxed);
  std::size_t newChunk = 0;
  // Numbers are 32-bit: after the last one nothing more fits either.
  if (d->full.load() || count == UINT32_MAX || !d->Plan(length, newChunk)) {
    d->full.store(true);
    return 0;
  }
  const std::size_t i = count;
  if (i % Impl::kSegmentEntries == 0) {
    d->segments.push_back(std::make_unique_for_overwrite<Impl::Entry[]>(Impl::kSegmentEntries));
    d->directory[i / Impl::kSegmentEntries] = d->segments.back().get();
  }
  const uint8_t* stored = d->Store(data, length, newChunk);
  d->directory[i / Impl::kSegmentEntries][i % Impl::kSegmentEntries] =
      Impl::Entry{stored, length, std::max(stamp.wireLength, length), static_cast<uint32_t>(stamp.seconds),
                  stamp.microseconds};
  d->count.store(count + 1, std::memory_order_release);
  return count + 1;
}

void FrameList::SetBudget(std::size_t bytes) {
  d->budget.store(bytes);
}

std::size_t FrameList::Budget() const {
  return d->budget.load();
}

bool FrameList::Full() const {
  return d->full.load();
}

uint32_t FrameList::Count() const {
  return d->count.load(std::memory_order_acquire);
}

std::span<const uint8_t> FrameList::Frame(uint32_t number) const {
  if (number == 0 || number > d->count.load(std::memory_order_acquire)) return {};
  const Impl::Entry e = d->At(number);
  return {e.data, e.length};
}

CaptureStamp FrameList::Stamp(uint32_t number) const {
  if (number == 0 || number > d->count.load(std::memory_order_acquire)) return {};
  const Impl::Entry e = d->At(number);
  return {e.seconds, e.microseconds, e.wireLength};
}

void FrameList::ForEachFrame(uint32_t first, uint32_t last,
                             const std::function<bool(uint32_t, std::span<const uint8_t>)>& visit) const {
  const uint32_t count = Count();
  if (count == 0) return;
  first = std::clamp<uint32_t>(first, 1, count);
  last = std::clamp<uint32_t>(last, 1, count);
  const bool forward = first <= last;
  for (uint32_t n = first;; n = forward ? n + 1 : n - 1) {
    if (!visit(n, Frame(n)) || n == last) return;
  }
}

bool FrameList::Lookup(uint32_t number) {
  if (number == 0 || number > d->count.load(std::memory_order_acquire)) return false;
  d->current = number;
  return true;
}

uint32_t FrameList::Current() const {
  return d->current;
}

std::span<const uint8_t> FrameList::CurrentFrame() const {
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
  // The directory's pages count once a segment's place in them is written.
  const std::size_t page = 4096;
  const std::size_t directoryPages = (d->segments.size() * sizeof(void*) + page - 1) / page;
  return sizeof(Impl) + directoryPages * page + d->segments.capacity() * sizeof(void*) +
         d->segments.size() * Impl::kSegmentEntries * sizeof(Impl::Entry) +
         d->blocks.capacity() * sizeof(void*) + chunkSlack;
}

}  // namespace netvane
