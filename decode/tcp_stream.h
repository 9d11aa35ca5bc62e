#pragma once
// Following one TCP connection: the bytes each side sent, in the order of
// their sequence numbers, as the receiver got them.
//
// Streams are numbered from 0 in order of their first frame, as the TCP rows
// of the conversations table are; one 4-tuple is one stream.
//
// The follower takes the frames of a capture in order (Add), once, and hands
// the sink each side's bytes as soon as they are in order, so a stream of any
// size passes through without being held:
//  - bytes are followed, not frames: a byte retransmitted or sent again in an
//    overlapping segment is passed once;
//  - sequence numbers are 32-bit and wrap; they are unwrapped against each
//    side's next expected byte;
//  - SYN and FIN each take a sequence number; a side whose SYN was not
//    captured starts at its first captured byte;
//  - a segment that arrives ahead of a missing one is held only as a
//    reference (frame number, where its payload lies, its length); when the
//    missing bytes come, the held frames are read again through the
//    SegmentReader. So memory is bounded by the number of held segments, never
//    by their bytes; past kMaxHeldSegments the oldest hole is given up;
//  - bytes never captured are reported to the sink as missing, with their
//    count, and nothing stands in for them. A hole is known for certain when
//    the other side acknowledges bytes beyond it (it had them; the capture
//    did not), when a segment's own length says it was cut short by the
//    snapshot length, or at Finish, when no more frames can fill it.
// The sink sees the two sides' bytes in the order the frames that completed
// them were captured: a turn of one side, then the other's answer, as a
// peer's Follow shows them.
//
// The client is the side that sent the first SYN (the receiver of a SYN+ACK),
// or else the source of the stream's first frame.
//
// Threads: none of its own. Add, Finish and the sink run on the caller's
// thread; the SegmentReader is called from Add and Finish, on that thread.

#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <vector>

#include "decode/conversation_table.h"

namespace netvane {

enum class StreamSide : uint8_t { Client = 0, Server = 1 };

class StreamSink {
 public:
  virtual ~StreamSink() = default;
  // The next bytes of one side; `data` is valid only during the call.
  virtual void Bytes(StreamSide side, std::span<const uint8_t> data) = 0;
  // `count` bytes of one side come next that were sent but never captured.
  virtual void Missing(StreamSide side, uint64_t count) = 0;
};

// Reads frame `number` again (the frame list's ReadFrame); false when it cannot.
using SegmentReader = std::function<bool(uint32_t number, std::vector<uint8_t>& bytes)>;

class TcpStreamFollower {
 public:
  // At most this many segments are held ahead of a hole at once (about
  // 60 bytes each); beyond them, the hole is reported missing.
  static constexpr std::size_t kMaxHeldSegments = 500000;

  TcpStreamFollower(uint32_t stream, StreamSink& sink, SegmentReader reader);

  // The next frame of the capture (only the frames a display filter takes,
  // when there is one). Frames of other streams are only counted.
  void Add(uint32_t number, std::span<const uint8_t> bytes);
  // No more frames: held segments are passed on, with what is missing
  // between them and before a FIN that was seen.
  void Finish();

  // Whether stream `stream` has been seen; its endpoints once it has.
  bool found() const { return found_; }
  const ConversationEndpoint& client() const { return endpoint_[0]; }
  const ConversationEndpoint& server() const { return endpoint_[1]; }
  // Bytes of a side reported missing so far.
  uint64_t missing(StreamSide side) const { return side_[static_cast<int>(side)].missing; }

 private:
  struct Held {
    uint32_t frame;
    uint32_t offset;    // of the payload in the frame
    uint32_t length;    // the payload's length by its headers
    uint32_t captured;  // how much of it the frame holds
  };
  struct Side {
    bool started = false;
    uint32_t base = 0;  // the sequence number of relative byte 0
    uint64_t next = 0;  // the next byte expected, relative to base
    bool finSeen = false;
    uint64_t fin = 0;                   // the FIN's place, once seen
    std::multimap<int64_t, Held> held;  // by relative start
    uint64_t missing = 0;
  };

  void Segment(int s, const TransportHeaders& h, uint32_t number, std::span<const uint8_t> bytes);
  int64_t Unwrap(const Side& side, uint32_t seq) const;
  void Take(int s, int64_t start, uint32_t length, std::span<const uint8_t> captured);
  void Drain(int s);
  void Skip(int s, uint64_t to);
  void PassFin(int s);

  uint32_t stream_;
  StreamSink& sink_;
  SegmentReader reader_;
  TcpStreamNumbers numbers_;
  bool found_ = false;
  ConversationEndpoint endpoint_[2];  // client, server
  Side side_[2];
  std::vector<uint8_t> reread_;
};

}  // namespace netvane
