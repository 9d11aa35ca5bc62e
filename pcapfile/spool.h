#pragma once
// The spool: the pcap file of the window's own that live frames are written
// to, so that memory holds only where each one lies. It is made in the user's
// cache directory ($XDG_CACHE_HOME/netvane or ~/.cache/netvane), or, where that
// cannot be made, in a directory of the user's own under the temporary
// directory; mode 0600. Its name is removed as soon as it is open, so the file
// goes with its descriptor at Clear and however the program ends.
//
// Its free-space policy: the spool may grow while its file system keeps the
// larger of 1 GiB and 5% of its size free; the free space is read again every
// 16 MB written, so that what other programs write counts too.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "pcapfile/frame_list.h"

namespace netvane {

class FrameIndex;
class FrameReader;
class PcapWriter;

// Creates a spool file in `directory`, or in the default places when it is
// empty, open for reading and writing. Returns the descriptor and sets `path`
// to the name it had; -1 with the reason in `error`.
int CreateSpool(const std::string& directory, std::string& path, std::string& error);

// Removes spool files of the default places whose names a program that ended
// at the wrong moment left behind.
void RemoveStaleSpools();

// Bytes a spool on the file system of `fd` may still grow by: its free space
// less the larger of 1 GiB and 5% of the file system; 0 when it cannot be read.
uint64_t SpoolRoom(int fd);

// Writes the frames handed to a frame list to its spool, a batch at a time,
// and publishes each batch in the index once it is in the file. The spool's
// records follow one another, so an entry written for a frame (past the
// published count, where no reader looks) is final at once.
class SpoolWriter {
 public:
  SpoolWriter();
  ~SpoolWriter();
  SpoolWriter(const SpoolWriter&) = delete;
  SpoolWriter& operator=(const SpoolWriter&) = delete;

  // Makes the spool in `directory` (empty: the default places) and hands it
  // to `file` for reading. False with the reason.
  bool Open(const std::string& directory, FrameReader& file, std::string& error);

  // Why a frame was refused.
  enum class Refusal { None, Memory, Disk, WriteError };
  // Queues a frame under the next number and returns it; 0 with the reason
  // when it is refused. Writes what is queued once the last write is 2 ms old.
  uint32_t Append(FrameIndex& index, const uint8_t* data, uint32_t length, CaptureStamp stamp, Refusal& why);
  // Writes what is queued and publishes it.
  void Flush(FrameIndex& index);
  // The same for only a few queued frames, such as the last before a pause;
  // true when every frame handed in is published (or writing has failed).
  bool FlushFew(FrameIndex& index);
  // "cannot write PATH: reason" once a write failed; empty before.
  const std::string& error() const;

 private:
  void CheckRoom();
  void PublishWritten(FrameIndex& index);

  std::unique_ptr<PcapWriter> writer_;
  int fd_ = -1;              // the reader's
  uint64_t room_ = 0;        // bytes the spool may still grow by
  uint64_t sinceCheck_ = 0;  // bytes queued since the free space was read
  uint32_t appended_ = 0;    // frames handed to the writer so far
  std::chrono::steady_clock::time_point lastFlush_;
  uint64_t flushedSize_ = 0;  // the spool's size after the last flush
};

}  // namespace netvane
