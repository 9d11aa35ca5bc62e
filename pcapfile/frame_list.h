#pragma once
// The list of listed frames: entries numbered from 1 in order, a head entry 0
// without bytes, the current entry of the row selected last.
//
// The frames' bytes stay on disk; memory holds where each frame's record
// starts, 8 bytes a frame, beyond a fixed overhead. Time stamps and wire
// lengths are read from the records when asked for. The records are either
//  - a capture file opened in place (OpenCapture, then IndexSome until the
//    end): Netvane does not own it, so a frame whose record is no longer
//    what it was (the file cut short or overwritten) reads as unreadable, with
//    the reason; or
//  - the spool (spool.h): frames handed to Append are written to a pcap file
//    of the list's own. Storing stops, keeping every frame written so far,
//    when the spool's file system would have less than 1 GiB or 5% left, or
//    when a write fails.
//
// Threads. One thread adds frames (Append and Flush, or IndexSome) while other
// threads read, without waiting on it: a frame is readable once Count()
// includes it, and what is read of it then never changes (frame_index.h).
// TryFlush may come from a reading thread. Clear, Adopt, Lookup and the
// current entry belong to one reading (UI) thread; Clear and Adopt must not run
// concurrently with adding or with another thread's reading.
//
// Inside: the index (frame_index.h), the reader of the list's file
// (frame_reader.h), and what adds to them, the spool's writer (spool.h) or
// the indexer of an opened capture (file_indexer.h).
//
// The list's memory has a budget (SetBudget): the first frame whose entry
// does not fit stops storing, as a full disk does; from then on every frame is
// refused until Clear, so the list is always an unbroken run of what was
// offered, numbered without gaps.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace netvane {

// When a frame was captured (seconds and microseconds since 1970, UTC) and
// how many bytes it had on the wire, which exceeds the stored bytes when the
// snapshot length cut it. The spool keeps the seconds as the 32 unsigned bits
// a pcap record holds.
struct CaptureStamp {
  int64_t seconds = 0;
  uint32_t microseconds = 0;  // as given: below 1,000,000 in a well-formed capture
  uint32_t wireLength = 0;    // 0 when appended: the frame's own length
};

// The present moment as a stamp, for a frame that comes without one.
CaptureStamp StampOfNow();

class FrameList {
 public:
  // `spoolDirectory`: where the spool is made; empty: the default places.
  explicit FrameList(std::string spoolDirectory = {});
  ~FrameList();
  FrameList(const FrameList&) = delete;
  FrameList& operator=(const FrameList&) = delete;

  // --- frames handed in: the spool ---------------------------------------------
  // Queues the `length` bytes at `data` with their stamp for the spool under
  // the next number and returns that number; 0 when storing has stopped (or
  // all 32-bit numbers are used up, or the list holds an opened file) and the
  // frame is not stored. A wire length below `length` is taken as `length`.
  // The frame becomes readable at the next Flush, or sooner: Append writes
  // what is queued once the last write is 2 ms old or about a megabyte is
  // queued, so a busy capture costs one write per few thousand frames.
  uint32_t Append(const uint8_t* data, uint32_t length, CaptureStamp stamp = {});
  // Writes the queued frames to the spool and makes them readable. False when
  // storing has stopped; frames already written stay.
  bool Flush();
  // The same for the last frames before a pause, from another thread: it
  // never waits for the adding thread, and writes only a few frames (while
  // many come, that thread writes them itself). True when every frame handed
  // in is readable, or storing has stopped.
  bool TryFlush();

  // --- a capture file read in place --------------------------------------------
  // Makes an empty list the frames of the capture file `path` (pcap, pcapng;
  // Ethernet) and indexes its first frame. False with the reason when the file
  // cannot be read, is no such capture, or is damaged before its first frame;
  // the list then stays empty.
  bool OpenCapture(const std::string& path, std::string& error);
  enum class Indexing { More, End, Damaged, Full };
  // Indexes on until `until` (a frame is listed once the record after it is
  // read, or the file ends): More to come, the End of the file, Damaged
  // (IndexError() says why; the frames before stay), or Full (the budget).
  Indexing IndexSome(std::chrono::steady_clock::time_point until);
  const std::string& IndexError() const;
  // Share of the opened file indexed so far, 0 to 1.
  double IndexedShare() const;
  // Takes the frames (and the open file) of `other` in place of this list's,
  // which go; `other` is left empty. The budget stays this list's.
  void Adopt(FrameList& other);

  // --- limits ----------------------------------------------------------------------
  // Bytes of memory the list may hold; no limit until set. A smaller budget
  // than what is held already keeps the stored frames and refuses the next one.
  void SetBudget(std::size_t bytes);
  std::size_t Budget() const;
  enum class Stop { None, Memory, Disk, WriteError };
  // Why storing has stopped since the last Clear.
  Stop Stopped() const;
  bool Full() const { return Stopped() != Stop::None; }
  // For WriteError: "cannot write PATH: reason".
  std::string StopError() const;
  // Bytes of the spool or of the opened file's frames so far.
  uint64_t StoredBytes() const;

  // --- reading ------------------------------------------------------------------------
  // Number of the newest readable entry (0 when nothing is stored).
  uint32_t Count() const;
  // The bytes of entry `number` (at most `maxBytes` of them); false when it
  // cannot be read, with the reason in `why` when given. The head entry and
  // unknown numbers read as no bytes, and true.
  bool ReadFrame(uint32_t number, std::vector<uint8_t>& bytes, std::string* why = nullptr,
                 uint32_t maxBytes = UINT32_MAX) const;
  // The same, empty when it cannot be read.
  std::vector<uint8_t> Frame(uint32_t number) const;
  // Time stamp and wire length of entry `number`; all zero for the head entry,
  // unknown numbers and records that cannot be read.
  CaptureStamp Stamp(uint32_t number) const;
  // The longest frame stored so far.
  uint32_t LongestFrame() const;

  // Calls visit(number, bytes) for every frame from `first` to `last`, both
  // inclusive and within 1..Count(), in that order (backwards when first > last),
  // reading the file in large sequential blocks so that a whole-capture walk
  // runs at page-cache speed. `bytes` is valid only during the call; a frame
  // that cannot be read is passed with empty bytes. Stops as soon as visit
  // returns false. Callable from any thread while another thread appends; the
  // caller ends the walk before Clear or a new file replaces the list.
  void ForEachFrame(uint32_t first, uint32_t last,
                    const std::function<bool(uint32_t number, std::span<const uint8_t> bytes)>& visit) const;
  // The same with each frame's stamp (all zero for a frame that cannot be read).
  void ForEachRecord(uint32_t first, uint32_t last,
                     const std::function<bool(uint32_t number, std::span<const uint8_t> bytes,
                                              const CaptureStamp& stamp)>& visit) const;

  // Hit (1 <= number <= Count): the entry becomes current, true. Miss: false, nothing changes.
  bool Lookup(uint32_t number);
  uint32_t Current() const;

  // Drops every frame and closes the file (the spool goes with it); storing
  // no longer stops. The budget stays.
  void Clear();

 private:
  struct Impl;
  std::unique_ptr<Impl> d;
};

}  // namespace netvane
