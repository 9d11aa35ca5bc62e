#include "pcapfile/frame_list.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <utility>

#include "pcapfile/file_indexer.h"
#include "pcapfile/frame_index.h"
#include "pcapfile/frame_reader.h"
#include "pcapfile/spool.h"

namespace netvane {

// The list: the index, the file it points into, and the one mode that adds to
// it, the spool writer or the indexer of an opened file, made when the first
// frame is appended or a capture is opened and dropped at Clear.
struct FrameList::Impl {
  std::string spoolDirectory;
  FrameIndex index;
  FrameReader file;  // set while the list is empty (the first Append, OpenCapture), then fixed
  std::atomic<int> stop{0};
  uint32_t current = 0;  // the UI thread's

  // The adder's state, also taken by Clear and the figures; readers never take it.
  mutable std::mutex adder;
  std::string stopError;                 // guarded by adder
  std::unique_ptr<SpoolWriter> spool;    // guarded by adder
  std::unique_ptr<FileIndexer> indexer;  // guarded by adder

  void StopWith(Stop why, std::string error = {}) {
    if (stop.load() != 0) return;
    stopError = std::move(error);
    stop.store(static_cast<int>(why));
  }
  // A spool write that failed stops storing.
  void CheckSpool() {
    if (!spool->error().empty()) StopWith(Stop::WriteError, spool->error());
  }

  void Reset() {
    spool.reset();  // before its file closes
    indexer.reset();
    file.Close();
    index.Reset();
    stop.store(0);
    stopError.clear();
    current = 0;
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
  if (d->indexer || d->stop.load() != 0) return 0;
  if (!d->spool) {
    auto spool = std::make_unique<SpoolWriter>();
    std::string error;
    if (!spool->Open(d->spoolDirectory, d->file, error)) {
      d->StopWith(Stop::WriteError, error);
      return 0;
    }
    d->spool = std::move(spool);
  }
  SpoolWriter::Refusal why;
  const uint32_t number = d->spool->Append(d->index, data, length, stamp, why);
  if (why == SpoolWriter::Refusal::Memory) d->StopWith(Stop::Memory);
  if (why == SpoolWriter::Refusal::Disk) d->StopWith(Stop::Disk);
  d->CheckSpool();
  return number;
}

bool FrameList::Flush() {
  const std::lock_guard lock(d->adder);
  if (d->spool) {
    d->spool->Flush(d->index);
    d->CheckSpool();
  }
  return d->stop.load() == 0;
}

bool FrameList::TryFlush() {
  std::unique_lock lock(d->adder, std::try_to_lock);
  if (!lock.owns_lock()) return false;
  if (!d->spool) return true;
  const bool done = d->spool->FlushFew(d->index);
  d->CheckSpool();
  return done;
}

bool FrameList::OpenCapture(const std::string& path, std::string& error) {
  const std::lock_guard lock(d->adder);
  d->Reset();
  d->indexer = std::make_unique<FileIndexer>();
  if (!d->indexer->Open(path, d->file, error)) {
    d->Reset();
    return false;
  }
  if (d->indexer->Index(d->index, d->file, std::chrono::steady_clock::time_point::max(), 1) ==
          FileIndexer::Step::Damaged &&
      d->index.Count() == 0) {
    error = "it is damaged or cut short before its first frame: " + d->indexer->error();
    d->Reset();
    return false;
  }
  return true;
}

FrameList::Indexing FrameList::IndexSome(std::chrono::steady_clock::time_point until) {
  const std::lock_guard lock(d->adder);
  if (!d->indexer) return Indexing::End;
  if (d->stop.load() != 0) return Indexing::Full;
  const FileIndexer::Step step = d->indexer->Index(d->index, d->file, until, UINT32_MAX);
  if (step != FileIndexer::Step::More) d->indexer->DropBlock();  // not needed any more
  switch (step) {
    case FileIndexer::Step::More:
      return Indexing::More;
    case FileIndexer::Step::End:
      return Indexing::End;
    case FileIndexer::Step::Damaged:
      return Indexing::Damaged;
    case FileIndexer::Step::Full:
      break;
  }
  d->StopWith(Stop::Memory);
  return Indexing::Full;
}

const std::string& FrameList::IndexError() const {
  static const std::string none;
  return d->indexer ? d->indexer->error() : none;
}

double FrameList::IndexedShare() const {
  const std::lock_guard lock(d->adder);
  return d->indexer ? d->indexer->Share() : 1;
}

void FrameList::Adopt(FrameList& other) {
  Clear();
  other.d->index.SetBudget(d->index.Budget());
  other.d->spoolDirectory = d->spoolDirectory;
  std::swap(d, other.d);
}

void FrameList::SetBudget(std::size_t bytes) {
  d->index.SetBudget(bytes);
}

std::size_t FrameList::Budget() const {
  return d->index.Budget();
}

FrameList::Stop FrameList::Stopped() const {
  return static_cast<Stop>(d->stop.load());
}

std::string FrameList::StopError() const {
  const std::lock_guard lock(d->adder);
  return d->stopError;
}

uint64_t FrameList::StoredBytes() const {
  return d->index.StoredBytes();
}

uint32_t FrameList::Count() const {
  return d->index.Count();
}

bool FrameList::ReadFrame(uint32_t number, std::vector<uint8_t>& bytes, std::string* why,
                          uint32_t maxBytes) const {
  bytes.clear();
  if (number == 0 || number > Count()) return true;
  return d->file.Read(d->index, number, maxBytes, &bytes, nullptr, why);
}

std::vector<uint8_t> FrameList::Frame(uint32_t number) const {
  std::vector<uint8_t> bytes;
  ReadFrame(number, bytes);
  return bytes;
}

CaptureStamp FrameList::Stamp(uint32_t number) const {
  CaptureStamp stamp;
  if (number == 0 || number > Count() || !d->file.Read(d->index, number, 0, nullptr, &stamp, nullptr))
    return {};
  return stamp;
}

uint32_t FrameList::LongestFrame() const {
  return d->index.Longest();
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
  d->file.ForEachRecord(d->index, std::clamp<uint32_t>(first, 1, count), std::clamp<uint32_t>(last, 1, count),
                        visit);
}

bool FrameList::Lookup(uint32_t number) {
  if (number == 0 || number > Count()) return false;
  d->current = number;
  return true;
}

uint32_t FrameList::Current() const {
  return d->current;
}

void FrameList::Clear() {
  const std::lock_guard lock(d->adder);
  d->Reset();
}

}  // namespace netvane
