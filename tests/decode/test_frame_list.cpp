#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "decode/frame_list.h"

namespace netvane {
namespace {

using Bytes = std::vector<uint8_t>;

// Frame `number` of `length` bytes whose contents identify it.
Bytes Numbered(uint32_t number, std::size_t length) {
  Bytes f(length);
  for (std::size_t i = 0; i < length; ++i) f[i] = static_cast<uint8_t>(number * 31 + i);
  return f;
}

bool Holds(std::span<const uint8_t> got, uint32_t number, std::size_t length) {
  const Bytes want = Numbered(number, length);
  return got.size() == length && std::equal(got.begin(), got.end(), want.begin());
}

TEST(FrameList, StartsWithTheHeadEntryOnly) {
  FrameList list;
  EXPECT_EQ(list.Count(), 0u);
  EXPECT_EQ(list.Current(), 0u);
  EXPECT_TRUE(list.Frame(0).empty());
  EXPECT_TRUE(list.Frame(1).empty());
  EXPECT_TRUE(list.CurrentFrame().empty());
  EXPECT_FALSE(list.Lookup(0));
  EXPECT_FALSE(list.Lookup(1));
  EXPECT_EQ(list.Current(), 0u);
}

// Each entry keeps its own bytes, time stamp and wire length; a wire length
// below the stored length (or none) is the stored length.
TEST(FrameList, NumbersFromOneAndKeepsItsOwnCopyAndStamp) {
  FrameList list;
  const struct {
    std::size_t length;
    CaptureStamp stamp;
    uint32_t wireKept;
  } frames[] = {
      {60, {1700000000, 999999, 60}, 60}, {0, {0, 0, 0}, 0},
      {1, {4294967295, 1, 1514}, 1514},   {20000, {1, 2, 65535}, 65535},
      {1514, {1700000001, 0, 100}, 1514}, {300000, {12, 1000001, 0}, 300000},
      {14, {1234567890, 123456, 14}, 14},
  };
  for (uint32_t i = 0; i < std::size(frames); ++i) {
    Bytes f = Numbered(i + 1, frames[i].length);
    EXPECT_EQ(list.Append(f.data(), static_cast<uint32_t>(f.size()), frames[i].stamp), i + 1);
    std::fill(f.begin(), f.end(), 0xEE);  // the caller's buffer is reused
  }
  EXPECT_EQ(list.Count(), std::size(frames));
  for (uint32_t i = 0; i < std::size(frames); ++i) {
    EXPECT_TRUE(Holds(list.Frame(i + 1), i + 1, frames[i].length)) << i;
    const CaptureStamp s = list.Stamp(i + 1);
    EXPECT_EQ(s.seconds, frames[i].stamp.seconds) << i;
    EXPECT_EQ(s.microseconds, frames[i].stamp.microseconds) << i;
    EXPECT_EQ(s.wireLength, frames[i].wireKept) << i;
  }
  EXPECT_TRUE(list.Frame(0).empty());
  EXPECT_TRUE(list.Frame(static_cast<uint32_t>(std::size(frames)) + 1).empty());
  EXPECT_EQ(list.Stamp(0).wireLength, 0u);
  EXPECT_EQ(list.Stamp(0).seconds, 0);
}

TEST(FrameList, LookupHitsMoveTheCurrentEntryMissesChangeNothing) {
  FrameList list;
  for (uint32_t n = 1; n <= 5; ++n) list.Append(Numbered(n, 40).data(), 40);
  const struct {
    uint32_t number;
    bool hit;
    uint32_t currentAfter;
  } steps[] = {{3, true, 3}, {6, false, 3}, {0, false, 3}, {1, true, 1},
               {5, true, 5}, {4, true, 4},  {4, true, 4},  {UINT32_MAX, false, 4}};
  for (const auto& s : steps) {
    EXPECT_EQ(list.Lookup(s.number), s.hit) << s.number;
    EXPECT_EQ(list.Current(), s.currentAfter) << s.number;
    EXPECT_TRUE(Holds(list.CurrentFrame(), s.currentAfter, 40)) << s.number;
  }
}

TEST(FrameList, ClearStartsNumberingAgain) {
  FrameList list;
  for (uint32_t n = 1; n <= 3; ++n) list.Append(Numbered(n, 60).data(), 60);
  ASSERT_TRUE(list.Lookup(2));
  list.Clear();
  EXPECT_EQ(list.Count(), 0u);
  EXPECT_EQ(list.Current(), 0u);
  EXPECT_TRUE(list.Frame(1).empty());
  EXPECT_FALSE(list.Lookup(1));
  list.Clear();  // on an empty list
  EXPECT_EQ(list.Append(Numbered(9, 10).data(), 10), 1u);
  EXPECT_TRUE(Holds(list.Frame(1), 9, 10));
}

// A span handed out earlier still shows the same bytes after many more
// appends: chunks never move.
TEST(FrameList, SpansStayValidWhileTheListGrows) {
  FrameList list;
  list.Append(Numbered(1, 100).data(), 100);
  const std::span<const uint8_t> first = list.Frame(1);
  for (uint32_t n = 2; n <= 100000; ++n) list.Append(Numbered(n, 1 + n % 97).data(), 1 + n % 97);
  EXPECT_EQ(first.data(), list.Frame(1).data());
  EXPECT_TRUE(Holds(first, 1, 100));
  EXPECT_TRUE(Holds(list.Frame(65537), 65537, 1 + 65537 % 97));
  EXPECT_TRUE(Holds(list.Frame(100000), 100000, 1 + 100000 % 97));
}

TEST(FrameList, OverheadStaysWithinAFewDozenBytesPerFrame) {
  FrameList list;
  const Bytes f(60, 0xAB);
  constexpr uint32_t kFrames = 200000;
  for (uint32_t n = 0; n < kFrames; ++n) list.Append(f.data(), 60);
  EXPECT_LT(list.OverheadBytes() / kFrames, 40u);
  EXPECT_GE(list.OverheadBytes() / kFrames, 24u);  // the index alone costs this much
}

// Whatever the mix of sizes, the list holds no more than its budget, keeps
// every frame it took, and after the first refusal takes none until Clear.
TEST(FrameList, ABudgetCapsWhatTheListHolds) {
  constexpr std::size_t kBudget = std::size_t{3} << 20;
  const std::size_t lengths[] = {1514, 60, 300000, 0, 20000, 90000};
  FrameList list;
  list.SetBudget(kBudget);
  uint32_t taken = 0;
  std::size_t bytes = 0;
  for (; taken < 100000; ++taken) {
    const std::size_t length = lengths[taken % std::size(lengths)];
    if (list.Append(Numbered(taken + 1, length).data(), static_cast<uint32_t>(length)) == 0) break;
    bytes += length;
  }
  ASSERT_TRUE(list.Full());
  ASSERT_GT(taken, 0u);
  EXPECT_EQ(list.Count(), taken);
  // Frames, chunk slack and index against the budget; the list's few
  // bookkeeping pointers are not counted.
  EXPECT_LE(bytes + list.OverheadBytes(), kBudget + 4096);
  EXPECT_GT(bytes, kBudget / 2);
  for (uint32_t n = 1; n <= taken; ++n)
    ASSERT_TRUE(Holds(list.Frame(n), n, lengths[(n - 1) % std::size(lengths)]));
  EXPECT_EQ(list.Append(Numbered(1, 1).data(), 1), 0u);
  EXPECT_EQ(list.Count(), taken);

  list.Clear();
  EXPECT_FALSE(list.Full());
  EXPECT_EQ(list.Budget(), kBudget);
  EXPECT_EQ(list.Append(Numbered(7, 1514).data(), 1514), 1u);
}

// One thread appends while another reads: every number a reader can see
// has its complete bytes. Run under ThreadSanitizer too.
TEST(FrameList, AppendWhileAnotherThreadReads) {
  FrameList list;
  constexpr uint32_t kFrames = 50000;
  std::atomic<bool> started{false}, done{false};
  std::atomic<uint64_t> checked{0};
  std::thread reader([&] {
    started.store(true);
    uint32_t probe = 1;
    // Reads until the writer is done, then a little more so that reads happen
    // even on a machine where the writer finishes first.
    while (!done.load(std::memory_order_acquire) || checked.load() < 2000) {
      const uint32_t count = list.Count();
      if (count == 0) continue;
      probe = probe * 1103515245u + 12345u;
      const uint32_t n = 1 + probe % count;
      if (!Holds(list.Frame(n), n, 1 + n % 61)) {
        ADD_FAILURE() << "frame " << n << " of " << count;
        return;
      }
      if (list.Lookup(count)) {
        EXPECT_TRUE(Holds(list.CurrentFrame(), count, 1 + count % 61));
      }
      EXPECT_FALSE(list.Lookup(UINT32_MAX));
      checked.fetch_add(1, std::memory_order_relaxed);
    }
  });
  while (!started.load()) std::this_thread::yield();
  for (uint32_t n = 1; n <= kFrames; ++n) {
    if (n % 500 == 0) std::this_thread::yield();
    const Bytes f = Numbered(n, 1 + n % 61);
    ASSERT_EQ(list.Append(f.data(), static_cast<uint32_t>(f.size())), n);
  }
  done.store(true, std::memory_order_release);
  reader.join();
  EXPECT_GT(checked.load(), 0u);
  EXPECT_EQ(list.Count(), kFrames);
}

}  // namespace
}  // namespace netvane
