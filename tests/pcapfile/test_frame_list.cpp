#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "pcapfile/capture_format.h"
#include "pcapfile/capture_reader.h"
#include "pcapfile/frame_list.h"
#include "tests/support/frames.h"

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
  EXPECT_TRUE(list.Frame(list.Current()).empty());
  EXPECT_FALSE(list.Lookup(0));
  EXPECT_FALSE(list.Lookup(1));
  EXPECT_EQ(list.Current(), 0u);
}

// Each entry keeps its bytes, time stamp and wire length in the spool; a wire
// length below the stored length (or none) is the stored length, and a frame
// longer than a record holds is cut to it, keeping its wire length.
TEST(FrameList, NumbersFromOneAndKeepsBytesAndStampInTheSpool) {
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
  ASSERT_TRUE(list.Flush());
  EXPECT_EQ(list.Count(), std::size(frames));
  for (uint32_t i = 0; i < std::size(frames); ++i) {
    const std::size_t kept = std::min<std::size_t>(frames[i].length, kMaxFrameBytes);
    EXPECT_TRUE(Holds(list.Frame(i + 1), i + 1, kept)) << i;
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
  list.Flush();
  const struct {
    uint32_t number;
    bool hit;
    uint32_t currentAfter;
  } steps[] = {{3, true, 3}, {6, false, 3}, {0, false, 3}, {1, true, 1},
               {5, true, 5}, {4, true, 4},  {4, true, 4},  {UINT32_MAX, false, 4}};
  for (const auto& s : steps) {
    EXPECT_EQ(list.Lookup(s.number), s.hit) << s.number;
    EXPECT_EQ(list.Current(), s.currentAfter) << s.number;
    EXPECT_TRUE(Holds(list.Frame(list.Current()), s.currentAfter, 40)) << s.number;
  }
}

TEST(FrameList, ClearStartsNumberingAgain) {
  FrameList list;
  for (uint32_t n = 1; n <= 3; ++n) list.Append(Numbered(n, 60).data(), 60);
  list.Flush();
  ASSERT_TRUE(list.Lookup(2));
  list.Clear();
  EXPECT_EQ(list.Count(), 0u);
  EXPECT_EQ(list.Current(), 0u);
  EXPECT_TRUE(list.Frame(1).empty());
  EXPECT_FALSE(list.Lookup(1));
  list.Clear();  // on an empty list
  EXPECT_EQ(list.Append(Numbered(9, 10).data(), 10), 1u);
  list.Flush();
  EXPECT_TRUE(Holds(list.Frame(1), 9, 10));
}

// The first frame whose entry passes the budget stops storing; every frame
// taken before stays, and none is taken after it until Clear. The index costs
// 8 bytes a frame, whatever the frames' sizes.
TEST(FrameList, ABudgetCapsTheIndex) {
  constexpr std::size_t kBudget = std::size_t{256} << 10;
  FrameList list;
  list.SetBudget(kBudget);
  uint32_t taken = 0;
  for (; taken < 100000; ++taken)
    if (list.Append(Numbered(taken + 1, 1 + taken % 7).data(), 1 + taken % 7) == 0) break;
  list.Flush();
  ASSERT_EQ(list.Stopped(), FrameList::Stop::Memory);
  EXPECT_EQ(list.Count(), taken);
  EXPECT_GT(taken, kBudget / 8 - 100);
  EXPECT_LE(taken, kBudget / 8);
  for (uint32_t n = 1; n <= taken; n += 101) ASSERT_TRUE(Holds(list.Frame(n), n, 1 + (n - 1) % 7));
  EXPECT_EQ(list.Append(Numbered(1, 1).data(), 1), 0u);
  EXPECT_EQ(list.Count(), taken);

  list.Clear();
  EXPECT_FALSE(list.Full());
  EXPECT_EQ(list.Budget(), kBudget);
  EXPECT_EQ(list.Append(Numbered(7, 1514).data(), 1514), 1u);
}

// A spool that runs out of room stops storing, keeping every frame written
// before: a file system with little free space beyond the reserve (root: a
// tmpfs of 1 GiB and 16 MiB, so 16 MiB above the 1 GiB reserve), and a write
// that fails (the process's file size limit).
TEST(FrameList, TheSpoolStopsBeforeTheDiskIsFullAndKeepsWhatItWrote) {
  const std::string base = "/tmp/netvane-spool-test-" + std::to_string(::getpid());
  ASSERT_EQ(::mkdir(base.c_str(), 0700), 0) << std::strerror(errno);
  const bool mounted = ::geteuid() == 0 && ::mount("tmpfs", base.c_str(), "tmpfs", 0, "size=1040m") == 0;
  const struct {
    const char* name;
    FrameList::Stop stop;
  } cases[] = {{"little room", FrameList::Stop::Disk}, {"a failed write", FrameList::Stop::WriteError}};
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    if (k.stop == FrameList::Stop::Disk && !mounted) {
      std::printf("skipped %s: mounting a tmpfs needs root\n", k.name);
      continue;
    }
    FrameList list(base);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    if (k.stop == FrameList::Stop::WriteError) {
      rlimit small = saved;
      small.rlim_cur = 3 << 20;
      ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    }
    uint32_t offered = 0;
    for (; offered < 100000 && !list.Full(); ++offered) {
      const Bytes f = Numbered(offered + 1, 1400);
      list.Append(f.data(), static_cast<uint32_t>(f.size()));
      if (offered % 50 == 49) list.Flush();
    }
    list.Flush();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    ASSERT_EQ(list.Stopped(), k.stop) << list.StopError();
    if (k.stop == FrameList::Stop::WriteError) {
      EXPECT_NE(list.StopError().find("File too large"), std::string::npos) << list.StopError();
    }
    const uint32_t kept = list.Count();
    const uint64_t limit = k.stop == FrameList::Stop::Disk ? uint64_t{16} << 20 : uint64_t{3} << 20;
    EXPECT_GT(kept * uint64_t{1416}, limit * 9 / 10);
    EXPECT_LE(kept * uint64_t{1416}, limit);
    uint32_t checked = 0;
    list.ForEachFrame(1, kept, [&](uint32_t n, std::span<const uint8_t> bytes) {
      EXPECT_TRUE(Holds(bytes, n, 1400)) << n;
      return ++checked == n;
    });
    EXPECT_EQ(checked, kept);
    EXPECT_EQ(list.Append(Numbered(1, 60).data(), 60), 0u);
  }
  if (mounted) ::umount(base.c_str());
  ::rmdir(base.c_str());
}

// pcapng blocks for the opened-file test: a section, an interface with a
// time stamp resolution, and packets.
void Put32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void Block(Bytes& out, uint32_t type, const Bytes& body) {
  const uint32_t total = static_cast<uint32_t>(12 + (body.size() + 3) / 4 * 4);
  Put32(out, type);
  Put32(out, total);
  out.insert(out.end(), body.begin(), body.end());
  out.resize(out.size() + (4 - body.size() % 4) % 4, 0);
  Put32(out, total);
}
// Two sections: the first with nanosecond stamps, a statistics block and a
// simple packet block among its packets; the second with microseconds.
Bytes RichPcapng(const std::vector<Bytes>& frames) {
  Bytes out;
  for (int section = 0; section < 2; ++section) {
    Bytes shb;
    Put32(shb, 0x1A2B3C4D);
    Put32(shb, 1);  // version 1.0
    Put32(shb, 0xFFFFFFFF);
    Put32(shb, 0xFFFFFFFF);
    Block(out, kPcapngSectionHeader, shb);
    Bytes idb;
    Put32(idb, 1);      // Ethernet
    Put32(idb, 65535);  // snapshot length
    if (section == 0) {
      Put32(idb, 9 | 1u << 16);  // if_tsresol, 1 byte: 10^-9
      Put32(idb, 9);
    }
    Put32(idb, 0);  // end of options
    Block(out, 1, idb);
    for (std::size_t i = section; i < frames.size(); i += 2) {
      const Bytes& f = frames[i];
      Bytes epb;
      if (i % 5 == 4) {
        Put32(epb, static_cast<uint32_t>(f.size()));
        epb.insert(epb.end(), f.begin(), f.end());
        Block(out, 3, epb);
        continue;
      }
      const uint64_t t = section == 0 ? (1700000000ull + i) * 1000000000ull + i * 1001
                                      : (1700000000ull + i) * 1000000ull + i;
      Put32(epb, 0);
      Put32(epb, static_cast<uint32_t>(t >> 32));
      Put32(epb, static_cast<uint32_t>(t));
      Put32(epb, static_cast<uint32_t>(f.size()));
      Put32(epb, static_cast<uint32_t>(f.size() + 4));
      epb.insert(epb.end(), f.begin(), f.end());
      Block(out, 6, epb);
      if (i % 7 == 0) Block(out, 5, Bytes(40, 0x55));  // interface statistics: skipped
    }
  }
  return out;
}

// The same pcap image in the other byte order.
Bytes Swapped(const Bytes& image) {
  Bytes out = image;
  auto swap32 = [&](std::size_t at) { std::reverse(out.begin() + at, out.begin() + at + 4); };
  auto swap16 = [&](std::size_t at) { std::reverse(out.begin() + at, out.begin() + at + 2); };
  swap32(0);
  swap16(4);
  swap16(6);
  for (std::size_t at : {8, 12, 16, 20}) swap32(at);
  for (std::size_t at = 24; at + kPcapRecordHeaderBytes <= out.size();) {
    uint32_t caplen;
    std::memcpy(&caplen, image.data() + at + 8, 4);
    for (std::size_t f = 0; f < kPcapRecordHeaderBytes; f += 4) swap32(at + f);
    at += kPcapRecordHeaderBytes + caplen;
  }
  return out;
}

class OpenedFile : public ::testing::Test {
 protected:
  std::string Write(const Bytes& content) {
    std::FILE* f = std::fopen(path_.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    std::fwrite(content.data(), 1, content.size(), f);
    std::fclose(f);
    return path_;
  }
  void TearDown() override { std::remove(path_.c_str()); }
  const std::string path_ = ::testing::TempDir() + "frame_list_" + std::to_string(::getpid()) + ".cap";
};

// A capture opened in place lists what libpcap reads from it, in every form:
// the same bytes, stamps and wire lengths, one by one and in block walks both
// ways (the file spans several read blocks).
TEST_F(OpenedFile, ListsWhatLibpcapReads) {
  std::vector<Bytes> frames;
  std::vector<testing::PcapRecord> records;
  for (uint32_t n = 1; n <= 3000; ++n) {
    frames.push_back(Numbered(n, 14 + (n * 7919) % 1500));
    records.push_back({frames.back(), 1700000000 + n, n * 331 % 1000000, n % 3 == 0 ? 9000u : 0u});
  }
  std::vector<testing::PcapRecord> nano = records;
  for (auto& r : nano) r.fraction = r.fraction * 1000 + 999;
  const struct {
    const char* name;
    Bytes image;
  } cases[] = {
      {"pcap", testing::PcapImage(records, false)},
      {"nanoseconds", testing::PcapImage(nano, true)},
      {"big-endian", Swapped(testing::PcapImage(records, false))},
      {"pcapng", RichPcapng(frames)},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    const std::string path = Write(k.image);
    FrameList list;
    std::string error;
    ASSERT_TRUE(list.OpenCapture(path, error)) << error;
    while (list.IndexSome(std::chrono::steady_clock::now() + std::chrono::milliseconds(5)) ==
           FrameList::Indexing::More) {
    }
    CaptureReader reader;
    ASSERT_TRUE(reader.Open(std::fopen(path.c_str(), "rb")));
    CaptureRecord r;
    uint32_t n = 0;
    while (reader.Next(r) == CaptureReader::Step::Frame) {
      ++n;
      ASSERT_LE(n, list.Count());
      const CaptureStamp s = list.Stamp(n);
      ASSERT_EQ(list.Frame(n), Bytes(r.bytes.begin(), r.bytes.end())) << n;
      ASSERT_EQ(s.seconds, r.seconds) << n;
      ASSERT_EQ(s.microseconds, r.microseconds) << n;
      ASSERT_EQ(s.wireLength, std::max<uint32_t>(r.wireLength, static_cast<uint32_t>(r.bytes.size()))) << n;
    }
    ASSERT_EQ(list.Count(), n);
    ASSERT_EQ(n, frames.size());
    for (const auto& [first, last] : {std::pair<uint32_t, uint32_t>{1, n}, {n, 1}, {1700, 17}}) {
      uint32_t expect = first, seen = 0;
      list.ForEachRecord(first, last,
                         [&](uint32_t number, std::span<const uint8_t> bytes, const CaptureStamp& stamp) {
                           EXPECT_EQ(number, expect);
                           EXPECT_EQ(Bytes(bytes.begin(), bytes.end()), list.Frame(number)) << number;
                           EXPECT_EQ(stamp.microseconds, list.Stamp(number).microseconds) << number;
                           expect = first <= last ? expect + 1 : expect - 1;
                           ++seen;
                           return true;
                         });
      EXPECT_EQ(seen, (first <= last ? last - first : first - last) + 1);
    }
  }
}

// A file cut short or overwritten under the list: the frames it no longer
// holds read as unreadable with the reason, in a walk too; the others stay.
TEST_F(OpenedFile, AFileChangedUnderTheListReadsAsUnreadable) {
  std::vector<Bytes> frames;
  for (uint32_t n = 1; n <= 400; ++n) frames.push_back(Numbered(n, 60 + n % 40));
  const Bytes image = testing::PcapImage(frames);
  // Where frame 200's record starts.
  std::size_t cut = 24;
  for (uint32_t n = 1; n < 200; ++n) cut += kPcapRecordHeaderBytes + frames[n - 1].size();
  // From there on, the records of another capture, as a ring of files
  // overwriting this one would leave them.
  Bytes overwritten(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(cut));
  const Bytes other = testing::PcapImage(std::vector<Bytes>(frames.begin() + 3, frames.end()));
  overwritten.insert(overwritten.end(), other.begin() + 24, other.end());
  const struct {
    const char* name;
    Bytes after;
    const char* says;
  } cases[] = {
      {"cut short", Bytes(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(cut)), "cut short"},
      {"overwritten", overwritten, "has changed"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    FrameList list;
    std::string error;
    ASSERT_TRUE(list.OpenCapture(Write(image), error)) << error;
    while (list.IndexSome(std::chrono::steady_clock::time_point::max()) == FrameList::Indexing::More) {
    }
    ASSERT_EQ(list.Count(), 400u);
    {  // in place, as a program writing it would
      std::FILE* f = std::fopen(path_.c_str(), "r+b");
      ASSERT_NE(f, nullptr);
      std::fwrite(k.after.data(), 1, k.after.size(), f);
      std::fflush(f);
      ASSERT_EQ(::ftruncate(fileno(f), static_cast<off_t>(k.after.size())), 0);
      std::fclose(f);
    }
    std::vector<uint8_t> bytes;
    std::string why;
    EXPECT_FALSE(list.ReadFrame(400, bytes, &why));
    EXPECT_TRUE(bytes.empty());
    EXPECT_NE(why.find(k.says), std::string::npos) << why;
    EXPECT_TRUE(list.ReadFrame(1, bytes, &why)) << why;
    EXPECT_EQ(bytes, frames[0]);
    uint32_t unreadable = 0;
    list.ForEachFrame(400, 1, [&](uint32_t n, std::span<const uint8_t> b) {
      if (n < 200) {
        EXPECT_EQ(Bytes(b.begin(), b.end()), frames[n - 1]) << n;
      } else {
        unreadable += b.empty();
      }
      return true;
    });
    // A record of the new content may by chance sit where one of the old was.
    EXPECT_GE(unreadable, 190u);
  }
}

// A pcapng whose every packet block is followed by a block without a frame,
// so that no frame's record ends where the next one starts.
Bytes GappedPcapng(const std::vector<Bytes>& frames) {
  Bytes out, shb, idb;
  for (uint32_t v : {0x1A2B3C4Du, 1u, 0xFFFFFFFFu, 0xFFFFFFFFu}) Put32(shb, v);
  Block(out, kPcapngSectionHeader, shb);
  for (uint32_t v : {1u, 65535u, 0u}) Put32(idb, v);
  Block(out, 1, idb);
  for (const Bytes& f : frames) {
    Bytes epb;
    for (uint32_t v : {0u, 0u, 0u, static_cast<uint32_t>(f.size()), static_cast<uint32_t>(f.size())})
      Put32(epb, v);
    epb.insert(epb.end(), f.begin(), f.end());
    Block(out, 6, epb);
    Block(out, 5, Bytes(20, 0x55));  // interface statistics
  }
  return out;
}

// A search (Find) walks the listed frames while the file is still being
// indexed: every frame it is given is whole, the last one listed included,
// whose bound the indexer must not move. Run under ThreadSanitizer too.
TEST_F(OpenedFile, AWalkWhileTheFileIsIndexedSeesEveryFrameWhole) {
  std::vector<Bytes> frames;
  for (uint32_t n = 1; n <= 30000; ++n) frames.push_back(Numbered(n, 60 + n % 50));
  const struct {
    const char* name;
    Bytes image;
  } cases[] = {{"pcap", testing::PcapImage(frames)}, {"pcapng", GappedPcapng(frames)}};
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    FrameList list;
    std::string error;
    ASSERT_TRUE(list.OpenCapture(Write(k.image), error)) << error;
    std::atomic<bool> indexed{false};
    std::atomic<uint32_t> walks{0}, broken{0};
    std::thread finder([&] {
      // Walks the last frames listed, as a search that reached the end does,
      // until the file is indexed (and at least a few times).
      while (!indexed.load(std::memory_order_acquire) || walks.load() < 10) {
        const uint32_t count = list.Count();
        list.ForEachFrame(count > 4 ? count - 4 : 1, count, [&](uint32_t n, std::span<const uint8_t> bytes) {
          if (!Holds(bytes, n, 60 + n % 50) && broken.fetch_add(1) == 0)
            ADD_FAILURE() << "frame " << n << " of " << count << " read as " << bytes.size() << " bytes";
          return true;
        });
        walks.fetch_add(1);
      }
    });
    // The walks run before the indexing goes on, which is quick.
    for (int i = 0; i < 100000 && walks.load() == 0; ++i) std::this_thread::yield();
    // Short slices, as from the event loop, so that the walks meet many of them.
    FrameList::Indexing step;
    while ((step = list.IndexSome(std::chrono::steady_clock::now() + std::chrono::microseconds(20))) ==
           FrameList::Indexing::More) {
    }
    indexed.store(true, std::memory_order_release);
    finder.join();
    EXPECT_EQ(step, FrameList::Indexing::End) << list.IndexError();
    EXPECT_EQ(list.Count(), frames.size());
    EXPECT_EQ(broken.load(), 0u) << "in " << walks.load() << " walks";
  }
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
        EXPECT_TRUE(Holds(list.Frame(list.Current()), count, 1 + count % 61));
      }
      // A walk backwards over what was readable a moment ago.
      list.ForEachFrame(count, count > 300 ? count - 300 : 1,
                        [&](uint32_t k, std::span<const uint8_t> bytes) {
                          EXPECT_TRUE(Holds(bytes, k, 1 + k % 61)) << k;
                          return true;
                        });
      EXPECT_FALSE(list.Lookup(UINT32_MAX));
      checked.fetch_add(1, std::memory_order_relaxed);
    }
  });
  while (!started.load()) std::this_thread::yield();
  for (uint32_t n = 1; n <= kFrames; ++n) {
    if (n % 500 == 0) std::this_thread::yield();
    const Bytes f = Numbered(n, 1 + n % 61);
    ASSERT_EQ(list.Append(f.data(), static_cast<uint32_t>(f.size())), n);
    if (n % 97 == 0) list.Flush();
  }
  list.Flush();
  done.store(true, std::memory_order_release);
  reader.join();
  EXPECT_GT(checked.load(), 0u);
  EXPECT_EQ(list.Count(), kFrames);
}

}  // namespace
}  // namespace netvane
