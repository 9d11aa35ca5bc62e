#include "decode/tcp_stream.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace netvane {

TcpStreamFollower::TcpStreamFollower(uint32_t stream, StreamSink& sink, SegmentReader reader)
    : stream_(stream), sink_(sink), reader_(std::move(reader)) {}

void TcpStreamFollower::Add(uint32_t number, std::span<const uint8_t> bytes) {
  const TransportHeaders h = DecodeTransportHeaders(bytes);
  TcpPair pair;
  if (!TcpPairOf(h, pair)) return;
  if (!found_) {
    if (numbers_.NumberOf(pair) != stream_) return;
    found_ = true;
    // A SYN+ACK is the server's answer: its receiver is the client.
    const bool synAck = (h.tcpFlags & tcp_flag::kSyn) != 0 && (h.tcpFlags & tcp_flag::kAck) != 0;
    endpoint_[0] = synAck ? pair.destination : pair.source;
    endpoint_[1] = synAck ? pair.source : pair.destination;
  }
  int s = 0;
  if (pair.source == endpoint_[0] && pair.destination == endpoint_[1])
    s = 0;
  else if (pair.source == endpoint_[1] && pair.destination == endpoint_[0])
    s = 1;
  else
    return;
  // A fragmented segment's bytes are not all in this frame: only its ports count.
  if (!h.tcp) return;
  Segment(s, h, number, bytes);
}

int64_t TcpStreamFollower::Unwrap(const Side& side, uint32_t seq) const {
  // The distance from the next expected byte, in 32-bit modular arithmetic:
  // a segment lies within 2 GiB of it, before or after.
  const auto expected = static_cast<uint32_t>(side.base + side.next);
  return static_cast<int64_t>(side.next) + static_cast<int32_t>(seq - expected);
}

void TcpStreamFollower::Segment(int s, const TransportHeaders& h, uint32_t number,
                                std::span<const uint8_t> bytes) {
  Side& d = side_[s];
  const bool syn = (h.tcpFlags & tcp_flag::kSyn) != 0;
  const bool fin = (h.tcpFlags & tcp_flag::kFin) != 0;
  const bool rst = (h.tcpFlags & tcp_flag::kRst) != 0;
  // What a reset carries is a diagnostic text, not stream bytes.
  const uint32_t length = rst ? 0 : h.payloadLength;
  uint32_t dataSeq = h.seq;
  if (syn) {
    // The SYN takes one sequence number; data (if any) follows it.
    if (!d.started) {
      d.started = true;
      d.base = h.seq + 1;
    }
    dataSeq = h.seq + 1;
  } else if (!d.started && (length > 0 || fin)) {
    d.started = true;  // its start was not captured: follow from here
    d.base = h.seq;
  }
  if (d.started) {
    const int64_t start = Unwrap(d, dataSeq);
    if (fin && !d.finSeen && start + length >= static_cast<int64_t>(d.next)) {
      d.finSeen = true;
      d.fin = static_cast<uint64_t>(start + length);
    }
    if (length > 0) {
      if (start <= static_cast<int64_t>(d.next)) {
        Take(s, start, length, bytes.subspan(h.payloadOffset, h.capturedPayload));
        Drain(s);
      } else if (start + length > static_cast<int64_t>(d.next)) {
        d.held.emplace(start,
                       Held{number, static_cast<uint32_t>(h.payloadOffset), length, h.capturedPayload});
        if (d.held.size() > kMaxHeldSegments) Skip(s, static_cast<uint64_t>(d.held.begin()->first));
      }
    }
    PassFin(s);
  }
  // The other side's bytes this one acknowledges were received; those the
  // capture does not have before a held segment will never come.
  if ((h.tcpFlags & tcp_flag::kAck) != 0 && !rst) {
    Side& o = side_[1 - s];
    if (o.started && !o.held.empty()) {
      const int64_t limit = std::min(Unwrap(o, h.ack), o.held.begin()->first);
      if (limit > static_cast<int64_t>(o.next)) Skip(1 - s, static_cast<uint64_t>(limit));
    }
  }
}

void TcpStreamFollower::Take(int s, int64_t start, uint32_t length, std::span<const uint8_t> captured) {
  Side& d = side_[s];
  const int64_t end = start + length;
  if (end <= static_cast<int64_t>(d.next)) return;  // every byte passed already
  const auto skip = static_cast<uint64_t>(static_cast<int64_t>(d.next) - start);
  if (skip < captured.size()) {
    sink_.Bytes(static_cast<StreamSide>(s), captured.subspan(skip));
    d.next = static_cast<uint64_t>(start) + captured.size();
  }
  // The rest was sent (the headers count it) but not captured.
  if (static_cast<int64_t>(d.next) < end) {
    const auto count = static_cast<uint64_t>(end) - d.next;
    d.missing += count;
    sink_.Missing(static_cast<StreamSide>(s), count);
    d.next = static_cast<uint64_t>(end);
  }
}

void TcpStreamFollower::Drain(int s) {
  Side& d = side_[s];
  while (!d.held.empty() && d.held.begin()->first <= static_cast<int64_t>(d.next)) {
    const auto [start, held] = *d.held.begin();
    d.held.erase(d.held.begin());
    if (start + held.length <= static_cast<int64_t>(d.next)) continue;
    std::span<const uint8_t> captured;
    // A frame that cannot be read again leaves its bytes missing.
    if (reader_(held.frame, reread_) && held.offset <= reread_.size() &&
        held.captured <= reread_.size() - held.offset)
      captured = std::span<const uint8_t>(reread_).subspan(held.offset, held.captured);
    Take(s, start, held.length, captured);
  }
  PassFin(s);
}

void TcpStreamFollower::Skip(int s, uint64_t to) {
  Side& d = side_[s];
  if (to > d.next) {
    const uint64_t count = to - d.next;
    d.missing += count;
    sink_.Missing(static_cast<StreamSide>(s), count);
    d.next = to;
  }
  Drain(s);
}

void TcpStreamFollower::PassFin(int s) {
  Side& d = side_[s];
  if (d.finSeen && d.next == d.fin) d.next = d.fin + 1;
}

void TcpStreamFollower::Finish() {
  // The holes left are given up, oldest frame first, so that the turns keep
  // the order in which their frames came.
  for (;;) {
    int pick = -1;
    uint32_t frame = std::numeric_limits<uint32_t>::max();
    for (int s = 0; s < 2; ++s) {
      if (side_[s].held.empty()) continue;
      const uint32_t first = side_[s].held.begin()->second.frame;
      if (pick < 0 || first < frame) {
        pick = s;
        frame = first;
      }
    }
    if (pick < 0) break;
    Skip(pick, static_cast<uint64_t>(side_[pick].held.begin()->first));
  }
  // Bytes before a FIN that was seen were sent, whether captured or not.
  for (int s = 0; s < 2; ++s)
    if (side_[s].finSeen && side_[s].next < side_[s].fin) Skip(s, side_[s].fin);
}

}  // namespace netvane
