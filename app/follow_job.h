#pragma once
// The thread that follows one TCP stream for the Follow TCP stream window: it
// walks the listed frames once through the reassembly (tcp_stream.h) and
// writes the bytes of both sides, in the order the reassembly passes them,
// to a file of the window's own (made where the spool is made, its name
// removed at once). Memory holds only the turns: which side, where in the file,
// how long, or how many bytes are missing there; the window reads the bytes
// of the page it shows from the file, and "Save as..." copies from it in
// blocks. So a stream larger than memory is never held whole.
//
// Threads. The walk reads the frame list and its own state; `FLock` guards the
// turns, the byte count readable in the file and what is known of the stream,
// which the UI reads while the walk runs. The walk ends on its own (done());
// destroying the job stops it and joins the thread. Whoever clears the frame
// list destroys the job first.

#include <QObject>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "decode/tcp_stream.h"

namespace netvane {
class FrameFilter;
class FrameList;
}  // namespace netvane

// One run of bytes of one side in the file, or bytes of that side never captured.
struct TStreamTurn {
  uint64_t offset = 0;  // in the file
  uint64_t length = 0;  // bytes in the file; for a missing run, the bytes missing
  netvane::StreamSide side = netvane::StreamSide::Client;
  bool missing = false;
};

// What the walk knows of its stream so far.
struct TFollowState {
  bool done = false;
  bool found = false;
  uint32_t stream = 0;
  netvane::ConversationEndpoint client, server;
  uint64_t readable = 0;     // bytes of the file written
  uint64_t bytes[2] = {};    // by side
  uint64_t missing[2] = {};  // by side
  std::size_t turns = 0;
  std::string error;  // the file could not be made or written
};

class TFollowJob : public QObject {
  Q_OBJECT
 public:
  // Follows stream `stream` among the frames `filter` takes (all when null),
  // or, when `byFrame` is not 0, the stream of frame `byFrame` among all frames.
  TFollowJob(const netvane::FrameList& frames, uint32_t stream, uint32_t byFrame,
             std::shared_ptr<const netvane::FrameFilter> filter);
  ~TFollowJob() override;

  // Ends the walk where it is and joins it; what it wrote stays readable.
  void Stop();

  TFollowState State() const;
  // The turns that overlap bytes [from, to) of the file, and the missing runs
  // that lie there (at `to` too, when it is the end of a finished stream).
  std::vector<TStreamTurn> TurnsIn(uint64_t from, uint64_t to) const;
  // Reads `length` bytes of the file at `offset`; false when it cannot.
  bool Read(uint64_t offset, std::size_t length, std::vector<uint8_t>& bytes) const;
  // After done(): every turn, for a save.
  const std::vector<TStreamTurn>& turns() const { return FTurns; }

  // Bytes gathered before they are written to the file.
  static constexpr std::size_t kBufferBytes = 1 << 20;
  // How often at most the UI hears of progress.
  static constexpr int kReportMs = 100;

 signals:
  // Progress or the end; at most one is queued until State is read.
  void progressed();

 private:
  class Sink;
  void Walk();
  void Report();
  bool WriteOut();

  const netvane::FrameList& FFrames;
  const uint32_t FStream;
  const uint32_t FByFrame;
  const std::shared_ptr<const netvane::FrameFilter> FFilter;
  int FFile = -1;
  std::atomic<bool> FStop{false};
  mutable std::atomic<bool> FPosted{false};
  // Walk thread only.
  std::vector<uint8_t> FBuffer;
  uint64_t FWritten = 0;
  mutable std::mutex FLock;  // guards FTurns, FState
  std::vector<TStreamTurn> FTurns;
  TFollowState FState;
  std::thread FThread;  // last
};
