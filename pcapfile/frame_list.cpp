#include "pcapfile/frame_list.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <utility>

#include "pcapfile/capture_format.h"
#include "pcapfile/pcap_writer.h"
#include "pcapfile/spool.h"

// Reads go through blocks of this size: large enough that a walk over a whole
// capture costs few calls, small enough to stay in the processor's caches.
// The fuzz build makes it small, so that records cross block ends.
#ifndef NETVANE_READ_BLOCK_BYTES
#define NETVANE_READ_BLOCK_BYTES (std::size_t{1} << 20)
#endif

namespace netvane {
namespace {

constexpr std::size_t kBlockBytes = NETVANE_READ_BLOCK_BYTES;
constexpr std::size_t kSegmentEntries = std::size_t{1} << 14;
constexpr std::size_t kSegmentBytes = kSegmentEntries * sizeof(uint64_t);
// Entries 0 to Count(), for every 32-bit count.
constexpr std::size_t kMaxSegments = (std::size_t{UINT32_MAX} + kSegmentEntries) / kSegmentEntries + 1;
// The spool's free space is read again after this many bytes, so that what
// other programs write is seen in time.
constexpr uint64_t kRecheckBytes = uint64_t{16} << 20;
constexpr uint32_t kSpoolRecordHeader = 16;
// Queued frames are written at the latest when the last write is this old.
constexpr auto kFlushAfter = std::chrono::milliseconds(2);

// Reads up to `length` bytes at `at`, fewer only at the end of the file;
// -1 (errno set) when nothing could be read.
ssize_t ReadAt(int fd, uint8_t* to, std::size_t length, uint64_t at) {
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n = ::pread(fd, to + done, length - done, static_cast<off_t>(at + done));
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      if (done == 0) return -1;
      break;
    }
  }
  return static_cast<ssize_t>(done);
}

CaptureStamp StampOf(const FrameRecord& r) {
  return {r.seconds, r.microseconds, std::max(r.wireLength, r.capturedLength)};
}

}  // namespace

// The index: entry i - 1 is where frame i's record starts, entry Count() is
// where the last one ends. When frame n + 1 is added, entry n (the end of
// frame n) becomes its start, which for pcapng may lie further on, past blocks
// without frames; either value bounds frame n's record. Entries live in fixed
// segments that never move; the directory of segments has room for every
// count and never moves either.
//
// Readers take no lock. The adder writes the entries (and a new segment's
// place in the directory), then publishes the count with a release store; a
// reader that loads the count with acquire sees everything up to it. The one
// entry written again is accessed atomically on both sides. A lock shared with
// readers would let a busy adder starve the UI thread of it.
struct FrameList::Impl {
  std::string spoolDirectory;
  std::atomic<std::size_t> budget{SIZE_MAX};

  std::unique_ptr<uint64_t*[]> directory = std::make_unique_for_overwrite<uint64_t*[]>(kMaxSegments);
  std::atomic<uint32_t> count{0};
  std::atomic<uint32_t> longest{0};
  std::atomic<uint64_t> storedBytes{0};
  std::atomic<int> stop{0};
  uint32_t current = 0;  // the UI thread's

  // The file: set while the list is empty (Clear, the first Append, OpenCapture), then fixed.
  int fd = -1;
  std::string name;
  bool opened = false;  // a capture opened in place, not the spool
  CaptureFormat format;

  // The adder's state, also taken by Clear and the figures; readers never take it.
  mutable std::mutex adder;
  std::vector<std::unique_ptr<uint64_t[]>> segments;
  std::string stopError;
  // The spool.
  std::unique_ptr<PcapWriter> writer;  // made anew for each spool
  bool spooling = false;
  uint64_t room = 0;        // bytes the spool may still grow by
  uint64_t sinceCheck = 0;  // bytes queued since the free space was read
  // Frames handed to the writer so far. Their entries are written at once
  // (past Count(), where no reader looks); the spool's records follow one
  // another, so making them readable is only a matter of the count.
  uint32_t appended = 0;
  std::chrono::steady_clock::time_point lastFlush;
  uint64_t flushedSize = 0;  // the spool's size after the last Flush
  // The opened file.
  uint64_t next = 0;  // where the next record starts
  uint64_t fileSize = 0;
  std::unique_ptr<uint8_t[]> block;
  std::size_t blockCapacity = 0;
  uint64_t blockStart = 0;
  std::size_t blockLength = 0;
  bool blockAtEnd = false;  // the block reaches the file's end
  std::string indexError;

  uint64_t Entry(std::size_t i) const {
    return std::atomic_ref<uint64_t>(directory[i / kSegmentEntries][i % kSegmentEntries])
        .load(std::memory_order_relaxed);
  }
  void SetEntry(std::size_t i, uint64_t v) {
    std::atomic_ref<uint64_t>(directory[i / kSegmentEntries][i % kSegmentEntries])
        .store(v, std::memory_order_relaxed);
  }

  // Whether frame `number` would find room for its entries within the budget.
  bool Fits(std::size_t number) const {
    const std::size_t segmentsNeeded = number / kSegmentEntries + 1;
    return segmentsNeeded <= segments.size() || segmentsNeeded * kSegmentBytes <= budget.load();
  }

  void StopWith(Stop why, std::string error = {}) {
    if (stop.load() != 0) return;
    stopError = std::move(error);
    stop.store(static_cast<int>(why));
  }

  // Makes sure entry `i` has its segment.
  void Grow(std::size_t i) {
    while (i / kSegmentEntries >= segments.size()) {
      segments.push_back(std::make_unique_for_overwrite<uint64_t[]>(kSegmentEntries));
      directory[segments.size() - 1] = segments.back().get();
    }
  }

  // Makes the record [start, end) frame Count() + 1.
  bool Publish(uint64_t start, uint64_t end, uint32_t length) {
    const uint32_t n = count.load(std::memory_order_relaxed);
    if (n == UINT32_MAX || !Fits(std::size_t{n} + 1)) {
      StopWith(Stop::Memory);
      return false;
    }
    Grow(std::size_t{n} + 1);
    SetEntry(n, start);
    SetEntry(std::size_t{n} + 1, end);
    if (length > longest.load(std::memory_order_relaxed)) longest.store(length, std::memory_order_relaxed);
    storedBytes.store(end, std::memory_order_relaxed);
    count.store(n + 1, std::memory_order_release);
    return true;
  }

  // --- the spool ---
  bool OpenSpool() {
    std::string path, error;
    const int spool = CreateSpool(spoolDirectory, path, error);
    if (spool < 0) {
      StopWith(Stop::WriteError, error);
      return false;
    }
    writer = std::make_unique<PcapWriter>();
    if (!writer->Open(spool, path, static_cast<int>(kMaxFrameBytes), true)) {
      StopWith(Stop::WriteError, writer->error());
      writer->Close();
      ::close(spool);
      return false;
    }
    fd = spool;
    name = path;
    format.StartOwn();
    spooling = true;
    room = SpoolRoom(fd);
    sinceCheck = 0;
    return true;
  }

  // Reads the free space again, less what is queued but not yet in the file.
  void CheckRoom() {
    struct stat st {};
    const uint64_t written = ::fstat(fd, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
    const uint64_t unwritten = writer->size() > written ? writer->size() - written : 0;
    const uint64_t free = SpoolRoom(fd);
    room = free > unwritten ? free - unwritten : 0;
    sinceCheck = 0;
  }

  void FlushSpool() {
    if (!spooling) return;
    writer->Flush();
    lastFlush = std::chrono::steady_clock::now();
    flushedSize = writer->size();
    PublishWritten();
  }

  // Makes readable what the writer has written whole; a failed write stops storing.
  void PublishWritten() {
    const uint64_t inFile = std::min<uint64_t>(writer->framesInFile(), appended);
    if (inFile > count.load(std::memory_order_relaxed)) {
      storedBytes.store(Entry(static_cast<std::size_t>(inFile)), std::memory_order_relaxed);
      count.store(static_cast<uint32_t>(inFile), std::memory_order_release);
    }
    if (writer->failed()) StopWith(Stop::WriteError, writer->error());
  }

  // --- the opened file ---
  // Reads the block that starts at `at`, at least `need` bytes of it.
  bool Refill(uint64_t at, uint64_t need) {
    const std::size_t size = static_cast<std::size_t>(std::max<uint64_t>(kBlockBytes, need));
    if (size > blockCapacity) {
      block = std::make_unique_for_overwrite<uint8_t[]>(size);
      blockCapacity = size;
    }
    const ssize_t got = ReadAt(fd, block.get(), size, at);
    if (got < 0) {
      indexError = std::string("reading it failed: ") + std::strerror(errno);
      return false;
    }
    blockStart = at;
    blockLength = static_cast<std::size_t>(got);
    blockAtEnd = blockLength < size;
    return true;
  }

  Indexing Index(std::chrono::steady_clock::time_point until, uint32_t frames) {
    const uint32_t before = count.load(std::memory_order_relaxed);
    for (uint32_t k = 1;; ++k) {
      // The clock is read every few records only: reading it costs more than a record.
      if (k % 256 == 0 && std::chrono::steady_clock::now() >= until) return Indexing::More;
      if (count.load(std::memory_order_relaxed) - before >= frames) return Indexing::More;
      const bool inBlock = next >= blockStart && next < blockStart + blockLength;
      const std::span<const uint8_t> bytes =
          inBlock
              ? std::span<const uint8_t>(block.get() + (next - blockStart), blockStart + blockLength - next)
              : std::span<const uint8_t>();
      FrameRecord r;
      uint64_t need = 1;
      std::string error;
      const CaptureFormat::Step step =
          bytes.empty() ? CaptureFormat::Step::More : format.Next(bytes, next, r, need, error);
      switch (step) {
        case CaptureFormat::Step::More:
          if (blockStart == next && blockAtEnd) {
            if (bytes.empty()) return Indexing::End;
            indexError = "the file ends inside the record at byte " + std::to_string(next);
            return Indexing::Damaged;
          }
          if (!Refill(next, need)) return Indexing::Damaged;
          break;
        case CaptureFormat::Step::Damaged:
          indexError = error + " at byte " + std::to_string(next);
          return Indexing::Damaged;
        case CaptureFormat::Step::Other:
          next += r.size;
          break;
        case CaptureFormat::Step::Frame:
          if (!Publish(next, next + r.size, r.capturedLength)) return Indexing::Full;
          next += r.size;
          break;
      }
    }
  }

  // --- reading ---
  std::string CutShort() const { return name + " has been cut short since it was opened"; }
  std::string Changed() const { return name + " has changed since it was opened"; }

  // Checks the record of frame [start, bound) read into `bytes` (from `start`).
  bool Whole(std::span<const uint8_t> bytes, uint64_t start, uint64_t bound, FrameRecord& r) const {
    if (!format.ReadFrame(bytes, start, r)) return false;
    return start + r.size <= bound && (!format.contiguous() || start + r.size == bound);
  }

  // Frame `number` (1 to a loaded count): its first `maxBytes` bytes and its stamp.
  bool Read(uint32_t number, uint32_t maxBytes, std::vector<uint8_t>* bytes, CaptureStamp* stamp,
            std::string* why) const {
    const uint64_t start = Entry(number - 1), bound = Entry(number);
    uint8_t head[256];
    const std::size_t want = static_cast<std::size_t>(std::min<uint64_t>(bound - start, sizeof head));
    const ssize_t got = ReadAt(fd, head, want, start);
    FrameRecord r;
    if (got < 0 ||
        static_cast<std::size_t>(got) < std::min<std::size_t>(want, CaptureFormat::kFrameHeaderBytes)) {
      if (why != nullptr) *why = got < 0 ? "cannot read " + name + ": " + std::strerror(errno) : CutShort();
      return false;
    }
    if (!Whole({head, static_cast<std::size_t>(got)}, start, bound, r)) {
      if (why != nullptr) *why = Changed();
      return false;
    }
    if (stamp != nullptr) *stamp = StampOf(r);
    if (bytes == nullptr) return true;
    const uint32_t take = std::min(r.capturedLength, maxBytes);
    if (r.dataOffset + take <= static_cast<std::size_t>(got)) {
      bytes->assign(head + r.dataOffset, head + r.dataOffset + take);
      return true;
    }
    bytes->resize(take);
    const ssize_t data = ReadAt(fd, bytes->data(), take, start + r.dataOffset);
    if (data == static_cast<ssize_t>(take)) return true;
    bytes->clear();
    if (why != nullptr) *why = data < 0 ? "cannot read " + name + ": " + std::strerror(errno) : CutShort();
    return false;
  }

  void Reset() {
    writer.reset();  // closes it
    spooling = false;
    if (fd >= 0) ::close(fd);
    fd = -1;
    name.clear();
    opened = false;
    format.Reset();
    count.store(0, std::memory_order_release);
    longest.store(0);
    storedBytes.store(0);
    stop.store(0);
    stopError.clear();
    current = 0;
    segments.clear();
    appended = 0;
    room = sinceCheck = 0;
    next = fileSize = 0;
    block.reset();
    blockCapacity = blockLength = 0;
    blockStart = 0;
    blockAtEnd = false;
    indexError.clear();
  }
};

CaptureStamp StampOfNow() {
  using namespace std::chrono;
  const int64_t us = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
  return {us / 1000000, static_cast<uint32_t>(us % 1000000), 0};
}

FrameList::FrameList(std::string spoolDirectory) : d(std::make_unique<Impl>()) {
  d->spoolDirectory = std::move(spoolDirectory);
}

FrameList::~FrameList() {
  const std::lock_guard lock(d->adder);
  d->Reset();
}

uint32_t FrameList::Append(const uint8_t* data, uint32_t length, CaptureStamp stamp) {
  const std::lock_guard lock(d->adder);
  if (d->opened || d->stop.load() != 0) return 0;
  if (!d->spooling && !d->OpenSpool()) return 0;
  // A record holds no more than this; a longer frame keeps its wire length.
  const uint32_t wire = std::max(stamp.wireLength, length);
  length = std::min(length, kMaxFrameBytes);
  const uint64_t number = uint64_t{d->appended} + 1;
  if (number > UINT32_MAX || !d->Fits(static_cast<std::size_t>(number))) {
    d->StopWith(Stop::Memory);
    d->FlushSpool();  // what was taken before becomes readable now
    return 0;
  }
  const uint64_t need = kSpoolRecordHeader + length;
  if (need > d->room || d->sinceCheck >= kRecheckBytes) d->CheckRoom();
  if (need > d->room) {
    d->StopWith(Stop::Disk);
    d->FlushSpool();
    return 0;
  }
  const uint64_t start = d->writer->size();
  if (!d->writer->Write({data, length}, stamp.seconds, stamp.microseconds, wire)) {
    d->PublishWritten();
    return 0;
  }
  d->Grow(static_cast<std::size_t>(number));
  if (number == 1) d->SetEntry(0, start);
  d->SetEntry(static_cast<std::size_t>(number), d->writer->size());
  d->appended = static_cast<uint32_t>(number);
  if (length > d->longest.load(std::memory_order_relaxed))
    d->longest.store(length, std::memory_order_relaxed);
  d->room -= need;
  d->sinceCheck += need;
  if (std::chrono::steady_clock::now() - d->lastFlush >= kFlushAfter)
    d->FlushSpool();
  else
    d->PublishWritten();  // what the writer wrote on its own, a megabyte at a time
  return static_cast<uint32_t>(number);
}

bool FrameList::Flush() {
  const std::lock_guard lock(d->adder);
  d->FlushSpool();
  return d->stop.load() == 0;
}

bool FrameList::TryFlush() {
  std::unique_lock lock(d->adder, std::try_to_lock);
  if (!lock.owns_lock()) return false;
  const auto done = [&] {
    return d->writer->failed() || d->count.load(std::memory_order_relaxed) == d->appended;
  };
  if (!d->spooling || done()) return true;
  // While frames come fast, the adding thread writes them itself every few
  // milliseconds; here only a few, such as the last ones before a pause.
  constexpr uint64_t kFew = uint64_t{64} << 10;
  if (d->writer->size() - d->flushedSize > kFew &&
      std::chrono::steady_clock::now() - d->lastFlush < 2 * kFlushAfter)
    return false;
  d->FlushSpool();
  return done();
}

bool FrameList::OpenCapture(const std::string& path, std::string& error) {
  const std::lock_guard lock(d->adder);
  d->Reset();
  d->fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (d->fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  d->name = path;
  d->opened = true;
  struct stat st {};
  if (::fstat(d->fd, &st) == 0) d->fileSize = static_cast<uint64_t>(st.st_size);
  ::posix_fadvise(d->fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  if (!d->Refill(0, kBlockBytes) || !d->format.Start({d->block.get(), d->blockLength}, d->next, error)) {
    if (error.empty()) error = d->indexError;
    d->Reset();
    return false;
  }
  if (d->Index(std::chrono::steady_clock::time_point::max(), 1) == Indexing::Damaged) {
    error = "it is damaged or cut short before its first frame: " + d->indexError;
    d->Reset();
    return false;
  }
  return true;
}

FrameList::Indexing FrameList::IndexSome(std::chrono::steady_clock::time_point until) {
  const std::lock_guard lock(d->adder);
  if (!d->opened) return Indexing::End;
  if (d->stop.load() != 0) return Indexing::Full;
  const Indexing result = d->Index(until, UINT32_MAX);
  if (result != Indexing::More) {
    // The block is not needed any more.
    d->block.reset();
    d->blockCapacity = d->blockLength = 0;
  }
  return result;
}

const std::string& FrameList::IndexError() const {
  return d->indexError;
}

double FrameList::IndexedShare() const {
  const std::lock_guard lock(d->adder);
  if (!d->opened || d->fileSize == 0) return 1;
  return std::min(1.0, static_cast<double>(d->next) / static_cast<double>(d->fileSize));
}

void FrameList::Adopt(FrameList& other) {
  Clear();
  other.d->budget.store(d->budget.load());
  other.d->spoolDirectory = d->spoolDirectory;
  std::swap(d, other.d);
}

void FrameList::SetBudget(std::size_t bytes) {
  d->budget.store(bytes);
}

std::size_t FrameList::Budget() const {
  return d->budget.load();
}

FrameList::Stop FrameList::Stopped() const {
  return static_cast<Stop>(d->stop.load());
}

std::string FrameList::StopError() const {
  const std::lock_guard lock(d->adder);
  return d->stopError;
}

uint64_t FrameList::StoredBytes() const {
  return d->storedBytes.load(std::memory_order_relaxed);
}

uint32_t FrameList::Count() const {
  return d->count.load(std::memory_order_acquire);
}

bool FrameList::ReadFrame(uint32_t number, std::vector<uint8_t>& bytes, std::string* why,
                          uint32_t maxBytes) const {
  bytes.clear();
  if (number == 0 || number > Count()) return true;
  return d->Read(number, maxBytes, &bytes, nullptr, why);
}

std::vector<uint8_t> FrameList::Frame(uint32_t number) const {
  std::vector<uint8_t> bytes;
  ReadFrame(number, bytes);
  return bytes;
}

CaptureStamp FrameList::Stamp(uint32_t number) const {
  CaptureStamp stamp;
  if (number == 0 || number > Count() || !d->Read(number, 0, nullptr, &stamp, nullptr)) return {};
  return stamp;
}

uint32_t FrameList::LongestFrame() const {
  return d->longest.load(std::memory_order_relaxed);
}

void FrameList::ForEachFrame(
    uint32_t first, uint32_t last,
    const std::function<bool(uint32_t number, std::span<const uint8_t> bytes)>& visit) const {
  ForEachRecord(first, last, [&](uint32_t number, std::span<const uint8_t> bytes, const CaptureStamp&) {
    return visit(number, bytes);
  });
}

void FrameList::ForEachRecord(uint32_t first, uint32_t last,
                              const std::function<bool(uint32_t number, std::span<const uint8_t> bytes,
                                                       const CaptureStamp& stamp)>& visit) const {
  const uint32_t count = Count();
  if (count == 0) return;
  first = std::clamp<uint32_t>(first, 1, count);
  last = std::clamp<uint32_t>(last, 1, count);
  const bool forward = first <= last;
  const auto buffer = std::make_unique_for_overwrite<uint8_t[]>(kBlockBytes);
  uint64_t fileEnd = UINT64_MAX;  // where a short read found the file to end
  std::vector<uint8_t> single;
  for (uint32_t k = first;;) {
    // Frames lo..hi, taken from k towards last, whose records fit one block.
    uint32_t lo = k, hi = k;
    if (forward) {
      while (hi < last && d->Entry(hi + 1) - d->Entry(lo - 1) <= kBlockBytes) ++hi;
    } else {
      while (lo > last && d->Entry(hi) - d->Entry(lo - 2) <= kBlockBytes) --lo;
    }
    const uint64_t start = d->Entry(lo - 1);
    const uint64_t length = d->Entry(hi) - start;
    if (length > kBlockBytes) {
      // One frame larger than a block.
      CaptureStamp stamp;
      const bool read = d->Read(k, UINT32_MAX, &single, &stamp, nullptr);
      if (!visit(k, read ? std::span<const uint8_t>(single) : std::span<const uint8_t>(),
                 read ? stamp : CaptureStamp{}))
        return;
    } else {
      ssize_t got =
          start < fileEnd ? ReadAt(d->fd, buffer.get(), static_cast<std::size_t>(length), start) : 0;
      if (got < 0) got = 0;
      if (static_cast<uint64_t>(got) < length)
        fileEnd = std::min(fileEnd, start + static_cast<uint64_t>(got));
      for (uint32_t n = forward ? lo : hi;; n = forward ? n + 1 : n - 1) {
        const uint64_t s = d->Entry(n - 1), e = d->Entry(n);
        FrameRecord r;
        const std::span<const uint8_t> record(buffer.get() + (s - start), static_cast<std::size_t>(e - s));
        const bool whole = e - start <= static_cast<uint64_t>(got) && d->Whole(record, s, e, r);
        if (!visit(n, whole ? record.subspan(r.dataOffset, r.capturedLength) : std::span<const uint8_t>(),
                   whole ? StampOf(r) : CaptureStamp{}))
          return;
        if (n == (forward ? hi : lo)) break;
      }
    }
    if ((forward ? hi : lo) == last) return;
    k = forward ? hi + 1 : lo - 1;
  }
}

bool FrameList::Lookup(uint32_t number) {
  if (number == 0 || number > Count()) return false;
  d->current = number;
  return true;
}

uint32_t FrameList::Current() const {
  return d->current;
}

std::vector<uint8_t> FrameList::CurrentFrame() const {
  return Frame(d->current);
}

void FrameList::Clear() {
  const std::lock_guard lock(d->adder);
  d->Reset();
}

std::size_t FrameList::OverheadBytes() const {
  const std::lock_guard lock(d->adder);
  // The directory's pages count once a segment's place in them is written.
  const std::size_t page = 4096;
  const std::size_t directoryPages = (d->segments.size() * sizeof(void*) + page - 1) / page;
  return directoryPages * page + d->segments.capacity() * sizeof(void*) + d->segments.size() * kSegmentBytes +
         d->blockCapacity;
}

}  // namespace netvane
