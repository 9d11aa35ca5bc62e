#include "pcapfile/frame_index.h"

namespace netvane {

FrameIndex::FrameIndex() : directory_(std::make_unique_for_overwrite<uint64_t*[]>(kMaxSegments)) {}

bool FrameIndex::Fits(std::size_t i) const {
  const std::size_t segments = i / kSegmentEntries + 1;
  return segments <= segments_.size() || segments * kSegmentEntries * sizeof(uint64_t) <= budget_.load();
}

bool FrameIndex::Write(std::size_t i, uint64_t value) {
  const std::size_t segment = i / kSegmentEntries;
  if (segment >= segments_.size()) {
    if (!Fits(i)) return false;
    while (segment >= segments_.size()) {
      segments_.push_back(std::make_unique_for_overwrite<uint64_t[]>(kSegmentEntries));
      directory_[segments_.size() - 1] = segments_.back().get();
    }
  }
  segments_[segment][i % kSegmentEntries] = value;
  return true;
}

void FrameIndex::Publish(uint32_t count) {
  storedBytes_.store(Entry(count), std::memory_order_relaxed);
  count_.store(count, std::memory_order_release);
}

void FrameIndex::Reset() {
  count_.store(0, std::memory_order_release);
  longest_.store(0);
  storedBytes_.store(0);
  segments_.clear();
}

}  // namespace netvane
