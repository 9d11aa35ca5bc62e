#pragma once
// The conversation between the capture driver and its privileged helper
// program (netvane-capture), over one stream socket, or over the standard
// input and output of an SSH session for an adapter of another host.
//
// Every message, in both directions, is an 8-byte header (payload length and
// message type, little-endian) followed by the payload. The driver sends
// requests; the helper answers each with exactly one Reply, in order, and in
// between sends Frame messages (while an adapter is open and a filter is
// attached) and Failure messages (an adapter that stops delivering, once per
// episode; a helper that cannot start safely, just before it ends). The
// adapter closes when the helper ends, which it does as soon as the driver's
// end of the socket closes.
//
// Standard C++ only. The helper reads every request through ParseRequest, and
// stops reading while the replies it has not yet sent pass a fixed mark, so
// neither a malformed nor an endless stream of requests makes it grow.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "decode/frame_size.h"
#include "helper/filter_program.h"

namespace netvane::helper {

inline constexpr size_t kHeaderSize = 8;

// Limits the helper enforces on every request.
inline constexpr size_t kMaxAdapterName = 255;
inline constexpr size_t kMaxSendFrame = 65535;
inline constexpr uint32_t kMaxSnapLength = kMaxFrameBytes;
inline constexpr uint32_t kMaxTimeOutMs = 60000;
// How long either end waits for frames when the read time-out is 0, which
// would otherwise wait for the next frame forever: a bounded wait keeps every
// turn short.
inline constexpr int kFallbackWaitMs = 1000;
inline constexpr size_t kFilterInstructionSize = 8;
// Largest request payload: a frame to send, or a filter program, with its count.
inline constexpr uint32_t kMaxRequestPayload =
    4 + (kMaxSendFrame > kMaxFilterInstructions * kFilterInstructionSize
             ? kMaxSendFrame
             : kMaxFilterInstructions * kFilterInstructionSize);

enum class RequestType : uint16_t {
  Open = 2,          // open one adapter (closing any open one first)
  SetFilter = 3,     // attach a compiled filter; frames flow from then on
  Send = 5,          // send one frame on the open adapter
  Stats = 6,         // the kernel's counters of the open adapter
  ListAdapters = 7,  // the adapters the helper would open
  Connection = 8,    // the SSH connection the helper was started over
};

enum class MessageType : uint16_t {
  Reply = 0x100,
  Frame = 0x101,
  Failure = 0x102,
};

enum class ReplyStatus : uint16_t {
  Ok = 0,
  Failed = 1,            // text: the reason
  NotEthernet = 2,       // Open: text says what the adapter is instead
  PermissionDenied = 3,  // Open: text is the library's reason
  InstallFailed = 5,     // SetFilter: text is the library's or the kernel's reason
  BadRequest = 6,        // the request was malformed; text says how
  NotOpen = 7,           // needs an open adapter
};

struct Request {
  RequestType type = RequestType::Stats;
  std::string name;                       // Open
  uint32_t snapLength = 0;                // Open
  uint32_t timeOutMs = 0;                 // Open
  bool promiscuous = false;               // Open
  std::vector<FilterInstruction> filter;  // SetFilter: checked by CheckFilterProgram
  std::vector<uint8_t> frame;             // Send
};

// One end of a TCP connection.
struct Endpoint {
  uint8_t family = 0;                 // 4 or 6
  std::array<uint8_t, 16> address{};  // network order; IPv4 in the first four bytes
  uint16_t port = 0;
  bool operator==(const Endpoint&) const = default;
};

struct SshConnection {
  Endpoint client;
  Endpoint server;
  bool operator==(const SshConnection&) const = default;
};

// Adapters in one ListAdapters reply, at most: their longest names fit one message.
inline constexpr size_t kMaxListedAdapters = 1000;

struct Reply {
  RequestType request = RequestType::Stats;
  ReplyStatus status = ReplyStatus::Ok;
  std::string text;
  uint32_t received = 0;              // Stats
  uint32_t dropped = 0;               // Stats
  std::vector<std::string> adapters;  // ListAdapters
  SshConnection connection;           // Connection
};

struct FrameHeader {
  int64_t seconds = 0;
  uint32_t microseconds = 0;
  uint32_t capturedLength = 0;
  uint32_t wireLength = 0;
};
inline constexpr size_t kFrameHeaderSize = 20;
// Largest message from the helper: a frame of the largest snapshot length
// (its replies and failures are short texts).
inline constexpr uint32_t kMaxMessagePayload = kFrameHeaderSize + kMaxSnapLength;

// Adapter names become file names and interface-request fields: 1 to
// kMaxAdapterName printable characters, no blank and no '/', neither "."
// nor "..". False, with the reason in `error`, for any other.
bool PlausibleAdapterName(const std::string& name, std::string& error);

// --- framing -------------------------------------------------------------------

// Appends a header for `type` and `payloadLength` bytes.
void AppendHeader(std::vector<uint8_t>& out, uint16_t type, uint32_t payloadLength);
// Reads a header from the first kHeaderSize bytes.
void ReadHeader(const uint8_t* bytes, uint32_t& payloadLength, uint16_t& type);

// --- requests (driver -> helper) ---------------------------------------------------

// The whole message (header and payload) for a request.
std::vector<uint8_t> EncodeRequest(const Request& request);
// Checks and decodes one request payload. On failure `error` says what is wrong
// and nothing in `out` may be used.
bool ParseRequest(uint16_t type, std::span<const uint8_t> payload, Request& out, std::string& error);

// --- messages (helper -> driver) ------------------------------------------------------

void AppendReply(std::vector<uint8_t>& out, const Reply& reply);
bool ParseReply(std::span<const uint8_t> payload, Reply& out);
// Frame header and bytes as one message; `bytes` holds header.capturedLength bytes.
void AppendFrame(std::vector<uint8_t>& out, const FrameHeader& header, const uint8_t* bytes);
// The header and the span of the frame's bytes inside `payload`.
bool ParseFrame(std::span<const uint8_t> payload, FrameHeader& header, std::span<const uint8_t>& bytes);
void AppendFailure(std::vector<uint8_t>& out, const std::string& text);

// --- the receiving side of either end ----------------------------------------------

// Bytes read from the socket, cut into whole messages. A message longer than
// the limit means the stream cannot be trusted any more. It holds at most one
// message and what was read with it, as long as its owner reads only when Pop
// has said NeedMore.
class Inbox {
 public:
  explicit Inbox(uint32_t maxPayload) : max_(maxPayload) {}
  enum class Next { Message, NeedMore, Oversized };

  // Room for `size` more bytes after what is buffered; Commit says how many came.
  uint8_t* Space(size_t size);
  void Commit(size_t size) { tail_ += size; }
  // The next whole message; `payload` stays valid until the next Space or Clear.
  Next Pop(uint16_t& type, std::span<const uint8_t>& payload);
  // The bytes read and not yet taken as messages.
  std::span<const uint8_t> Waiting() const { return {buf_.data() + head_, tail_ - head_}; }
  void Clear() { head_ = tail_ = 0; }

 private:
  std::vector<uint8_t> buf_;
  size_t head_ = 0;
  size_t tail_ = 0;
  uint32_t max_;
};

}  // namespace netvane::helper
