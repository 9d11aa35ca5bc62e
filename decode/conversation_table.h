#pragma once
// Who talks to whom: the conversations of a capture, at five layers
// (Ethernet, IPv4, IPv6, TCP and UDP, TCP and UDP over either IP), built in
// one pass over the frames and kept up to date as frames come.
//
// A conversation is an unordered pair of endpoints; its A is the source of
// its first frame. Rows are in order of their first frame, so the TCP table's
// row k is TCP stream k (tcp_stream.h numbers streams the same way). Memory
// grows with the number of conversations, never with the number of frames.
//
// Threads: none of its own, and no lock. One thread adds frames and reads the
// rows (the rows it returns are valid until the next Add); a window that
// shows them copies them to its own thread.

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "decode/transport_headers.h"

namespace netvane {

enum class ConversationKind : uint8_t { Ethernet, Ipv4, Ipv6, Tcp, Udp };
inline constexpr int kConversationKinds = 5;

struct ConversationEndpoint {
  std::array<uint8_t, 16> address{};  // the first `addressLength` bytes count
  uint8_t addressLength = 0;          // 6 hardware, 4 IPv4, 16 IPv6
  bool hasPort = false;               // TCP and UDP
  uint16_t port = 0;
};

struct Conversation {
  ConversationEndpoint a, b;
  uint64_t framesAToB = 0, bytesAToB = 0;  // bytes: each frame's length on the wire
  uint64_t framesBToA = 0, bytesBToA = 0;
  int64_t firstMicros = 0, lastMicros = 0;  // time stamps, microseconds since 1970
  uint32_t firstFrame = 0;                  // the number of its first frame

  uint64_t frames() const { return framesAToB + framesBToA; }
  uint64_t bytes() const { return bytesAToB + bytesBToA; }
  int64_t durationMicros() const { return lastMicros - firstMicros; }
  // Bits per second of one direction over the conversation's duration; false
  // when the duration is zero, which gives no rate.
  bool BitsPerSecond(bool aToB, double& rate) const;
};

// The endpoint pair of a TCP segment, in the order of the segment; false when
// the frame is no TCP with its ports. The same key for both directions.
struct TcpPair {
  ConversationEndpoint source, destination;
};
bool TcpPairOf(const TransportHeaders& h, TcpPair& pair);
bool operator==(const ConversationEndpoint& x, const ConversationEndpoint& y);

// Numbers TCP conversations as the table numbers its TCP rows: 0, 1, ... in
// order of their first frame. Holds one key per conversation.
class TcpStreamNumbers {
 public:
  TcpStreamNumbers();
  ~TcpStreamNumbers();
  TcpStreamNumbers(const TcpStreamNumbers&) = delete;
  TcpStreamNumbers& operator=(const TcpStreamNumbers&) = delete;
  // The pair's number; a pair not seen before takes the next one.
  uint32_t NumberOf(const TcpPair& pair);

 private:
  struct Index;
  std::unique_ptr<Index> index_;
};

class ConversationTable {
 public:
  ConversationTable();
  ~ConversationTable();
  ConversationTable(const ConversationTable&) = delete;
  ConversationTable& operator=(const ConversationTable&) = delete;

  // The time the capture starts, for Rel start: the first frame of the
  // capture, counted or not (a display filter may leave it out). Only the
  // first call counts; without one, the first frame added is the start.
  void NoteCaptureStart(int64_t micros);
  // One frame: its number, stored bytes, length on the wire (0: its stored
  // length) and time stamp in microseconds since 1970.
  void Add(uint32_t number, std::span<const uint8_t> bytes, uint32_t wireLength, int64_t micros);

  const std::vector<Conversation>& Rows(ConversationKind kind) const;
  int64_t CaptureStartMicros() const { return start_; }

 private:
  struct Index;
  std::unique_ptr<Index> index_[kConversationKinds];
  std::vector<Conversation> rows_[kConversationKinds];
  int64_t start_ = 0;
  bool started_ = false;
};

}  // namespace netvane
