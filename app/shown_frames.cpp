#include "app/shown_frames.h"

#include <algorithm>

int64_t TShownFrames::RowOf(uint32_t number) const {
  if (size_ == 0) return -1;
  // The last chunk whose first number is not above `number`, then inside it.
  const auto firstOf = [](const std::unique_ptr<uint32_t[]>& chunk) { return chunk[0]; };
  std::size_t lo = 0, hi = chunks_.size();
  while (hi - lo > 1) {
    const std::size_t mid = lo + (hi - lo) / 2;
    if (firstOf(chunks_[mid]) <= number)
      lo = mid;
    else
      hi = mid;
  }
  const uint32_t* begin = chunks_[lo].get();
  const uint32_t used = lo + 1 == chunks_.size() ? size_ - static_cast<uint32_t>(lo) * kChunk : kChunk;
  const uint32_t* at = std::lower_bound(begin, begin + used, number);
  if (at == begin + used || *at != number) return -1;
  return static_cast<int64_t>(lo) * kChunk + (at - begin);
}

void TShownFrames::Append(std::span<const uint32_t> numbers) {
  while (!numbers.empty()) {
    const uint32_t at = size_ % kChunk;
    if (at == 0) chunks_.push_back(std::make_unique_for_overwrite<uint32_t[]>(kChunk));
    const std::size_t n = std::min<std::size_t>(numbers.size(), kChunk - at);
    std::copy_n(numbers.begin(), n, chunks_.back().get() + at);
    size_ += static_cast<uint32_t>(n);
    numbers = numbers.subspan(n);
  }
}

void TShownFrames::Clear() {
  chunks_.clear();
  chunks_.shrink_to_fit();
  size_ = 0;
}
