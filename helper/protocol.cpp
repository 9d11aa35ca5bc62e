#include "helper/protocol.h"

#include <algorithm>
#include <cstring>

namespace netvane::helper {
namespace {

// `size` bytes of `v`, little-endian, at `at`: no alignment, no dependence on
// the host's byte order.
void PutLe(uint8_t* at, uint64_t v, int size) {
  for (int i = 0; i < size; ++i) at[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Little-endian fields, written and read byte by byte.
class Writer {
 public:
  explicit Writer(std::vector<uint8_t>& out) : out_(out) {}
  void U8(uint8_t v) { out_.push_back(v); }
  void U16(uint16_t v) { Uint(v, 2); }
  void U32(uint32_t v) { Uint(v, 4); }
  void I64(int64_t v) { Uint(static_cast<uint64_t>(v), 8); }
  void Bytes(const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    out_.insert(out_.end(), p, p + size);
  }
  void Text16(const std::string& s) {
    U16(static_cast<uint16_t>(s.size()));
    Bytes(s.data(), s.size());
  }
  void Text32(const std::string& s) {
    U32(static_cast<uint32_t>(s.size()));
    Bytes(s.data(), s.size());
  }

 private:
  void Uint(uint64_t v, int bytes) {
    uint8_t le[8];
    PutLe(le, v, bytes);
    out_.insert(out_.end(), le, le + bytes);
  }
  std::vector<uint8_t>& out_;
};

// Every read is checked against the end; a failed read leaves ok() false and
// yields zeros, so a caller checks once at the end.
class Reader {
 public:
  explicit Reader(std::span<const uint8_t> in) : in_(in) {}
  bool ok() const { return ok_; }
  bool AtEnd() const { return pos_ == in_.size(); }
  size_t Left() const { return in_.size() - pos_; }
  uint8_t U8() { return static_cast<uint8_t>(Uint(1)); }
  uint16_t U16() { return static_cast<uint16_t>(Uint(2)); }
  uint32_t U32() { return static_cast<uint32_t>(Uint(4)); }
  int64_t I64() { return static_cast<int64_t>(Uint(8)); }
  std::span<const uint8_t> Take(size_t size) {
    if (!ok_ || size > Left()) {
      ok_ = false;
      return {};
    }
    auto s = in_.subspan(pos_, size);
    pos_ += size;
    return s;
  }
  std::string Text(size_t size) {
    auto s = Take(size);
    return std::string(reinterpret_cast<const char*>(s.data()), s.size());
  }

 private:
  uint64_t Uint(int bytes) {
    auto s = Take(static_cast<size_t>(bytes));
    uint64_t v = 0;
    for (size_t i = 0; i < s.size(); ++i) v |= static_cast<uint64_t>(s[i]) << (8 * i);
    return v;
  }
  std::span<const uint8_t> in_;
  size_t pos_ = 0;
  bool ok_ = true;
};

// The message header: payload length, type, and two bytes of zero.
void PutHeader(uint8_t* at, uint16_t type, uint32_t payloadLength) {
  PutLe(at, payloadLength, 4);
  PutLe(at + 4, type, 2);
  PutLe(at + 6, 0, 2);
}

}  // namespace

bool PlausibleAdapterName(const std::string& name, std::string& error) {
  if (name.empty()) {
    error = "empty adapter name";
    return false;
  }
  if (name.size() > kMaxAdapterName) {
    error = "adapter name longer than " + std::to_string(kMaxAdapterName) + " characters";
    return false;
  }
  for (unsigned char c : name) {
    if (c <= ' ' || c == '/' || c >= 0x7F) {
      error = "adapter name with a blank, a '/' or a control character";
      return false;
    }
  }
  if (name == "." || name == "..") {
    error = "adapter name " + name + " is not an interface";
    return false;
  }
  return true;
}

void AppendHeader(std::vector<uint8_t>& out, uint16_t type, uint32_t payloadLength) {
  uint8_t head[kHeaderSize];
  PutHeader(head, type, payloadLength);
  out.insert(out.end(), head, head + kHeaderSize);
}

void ReadHeader(const uint8_t* bytes, uint32_t& payloadLength, uint16_t& type) {
  Reader r(std::span<const uint8_t>(bytes, kHeaderSize));
  payloadLength = r.U32();
  type = r.U16();
}

std::vector<uint8_t> EncodeRequest(const Request& request) {
  std::vector<uint8_t> payload;
  payload.reserve(16 + request.name.size() + request.filter.size() * kFilterInstructionSize +
                  request.frame.size());
  Writer w(payload);
  switch (request.type) {
    case RequestType::Open:
      w.U32(request.snapLength);
      w.U32(request.timeOutMs);
      w.U8(request.promiscuous ? 1 : 0);
      w.Text16(request.name);
      break;
    case RequestType::SetFilter:
      w.U32(static_cast<uint32_t>(request.filter.size()));
      for (const FilterInstruction& in : request.filter) {
        w.U16(in.code);
        w.U8(in.jt);
        w.U8(in.jf);
        w.U32(in.k);
      }
      break;
    case RequestType::Send:
      w.U32(static_cast<uint32_t>(request.frame.size()));
      w.Bytes(request.frame.data(), request.frame.size());
      break;
    case RequestType::Stats:
    case RequestType::ListAdapters:
    case RequestType::Connection:
      break;
  }
  std::vector<uint8_t> out;
  out.reserve(kHeaderSize + payload.size());
  AppendHeader(out, static_cast<uint16_t>(request.type), static_cast<uint32_t>(payload.size()));
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

namespace {

// One reader per request type. Each refuses what it can tell is wrong, with a
// reason in `error`; a payload that ends too soon is left to the caller, which
// sees it in the reader.

bool ParseOpen(Reader& r, Request& out, std::string& error) {
  out.snapLength = r.U32();
  out.timeOutMs = r.U32();
  const uint8_t promiscuous = r.U8();
  const uint16_t nameLength = r.U16();
  if (!r.ok()) return true;
  if (promiscuous > 1) {
    error = "promiscuous mode must be 0 or 1";
    return false;
  }
  out.promiscuous = promiscuous == 1;
  if (out.snapLength == 0 || out.snapLength > kMaxSnapLength) {
    error = "snapshot length must be 1 to " + std::to_string(kMaxSnapLength);
    return false;
  }
  if (out.timeOutMs > kMaxTimeOutMs) {
    error = "read time-out must be at most " + std::to_string(kMaxTimeOutMs) + " ms";
    return false;
  }
  if (nameLength > kMaxAdapterName) {
    error = "adapter name longer than " + std::to_string(kMaxAdapterName) + " characters";
    return false;
  }
  out.name = r.Text(nameLength);
  return !r.ok() || PlausibleAdapterName(out.name, error);
}

bool ParseSetFilter(Reader& r, Request& out, std::string& error) {
  const uint32_t count = r.U32();
  if (!r.ok()) return true;
  if (count > kMaxFilterInstructions) {
    error = "filter program of " + std::to_string(count) + " instructions; the kernel takes at most " +
            std::to_string(kMaxFilterInstructions);
    return false;
  }
  out.filter.resize(count);
  for (FilterInstruction& in : out.filter) {
    in.code = r.U16();
    in.jt = r.U8();
    in.jf = r.U8();
    in.k = r.U32();
  }
  return !r.ok() || CheckFilterProgram(out.filter, error);
}

bool ParseSend(Reader& r, Request& out, std::string& error) {
  const uint32_t length = r.U32();
  if (!r.ok()) return true;
  if (length == 0 || length > kMaxSendFrame) {
    error = "frame to send must be 1 to " + std::to_string(kMaxSendFrame) + " bytes";
    return false;
  }
  auto bytes = r.Take(length);
  out.frame.assign(bytes.begin(), bytes.end());
  return true;
}

// Requests without a payload.
bool ParseNothing(Reader&, Request&, std::string&) {
  return true;
}

}  // namespace

bool ParseRequest(uint16_t type, std::span<const uint8_t> payload, Request& out, std::string& error) {
  out = Request{};
  if (payload.size() > kMaxRequestPayload) {
    error = "request of " + std::to_string(payload.size()) + " bytes is too long";
    return false;
  }
  bool (*parse)(Reader&, Request&, std::string&) = nullptr;
  switch (static_cast<RequestType>(type)) {
    case RequestType::Open:
      parse = ParseOpen;
      break;
    case RequestType::SetFilter:
      parse = ParseSetFilter;
      break;
    case RequestType::Send:
      parse = ParseSend;
      break;
    case RequestType::Stats:
    case RequestType::ListAdapters:
    case RequestType::Connection:
      parse = ParseNothing;
      break;
  }
  if (parse == nullptr) {
    error = "unknown request type " + std::to_string(type);
    return false;
  }
  Reader r(payload);
  if (!parse(r, out, error)) return false;
  if (!r.ok()) {
    error = "request cut short";
    return false;
  }
  if (!r.AtEnd()) {
    error = "request with " + std::to_string(r.Left()) + " bytes too many";
    return false;
  }
  out.type = static_cast<RequestType>(type);
  return true;
}

void AppendReply(std::vector<uint8_t>& out, const Reply& reply) {
  std::vector<uint8_t> payload;
  Writer w(payload);
  w.U16(static_cast<uint16_t>(reply.request));
  w.U16(static_cast<uint16_t>(reply.status));
  w.Text32(reply.text);
  if (reply.status == ReplyStatus::Ok && reply.request == RequestType::Stats) {
    w.U32(reply.received);
    w.U32(reply.dropped);
  }
  if (reply.status == ReplyStatus::Ok && reply.request == RequestType::ListAdapters) {
    const size_t count = std::min(reply.adapters.size(), kMaxListedAdapters);
    w.U16(static_cast<uint16_t>(count));
    for (size_t i = 0; i < count; ++i) w.Text16(reply.adapters[i].substr(0, kMaxAdapterName));
  }
  if (reply.status == ReplyStatus::Ok && reply.request == RequestType::Connection) {
    for (const Endpoint& end : {reply.connection.client, reply.connection.server}) {
      w.U8(end.family);
      w.Bytes(end.address.data(), end.address.size());
      w.U16(end.port);
    }
  }
  AppendHeader(out, static_cast<uint16_t>(MessageType::Reply), static_cast<uint32_t>(payload.size()));
  out.insert(out.end(), payload.begin(), payload.end());
}

bool ParseReply(std::span<const uint8_t> payload, Reply& out) {
  out = Reply{};
  Reader r(payload);
  out.request = static_cast<RequestType>(r.U16());
  out.status = static_cast<ReplyStatus>(r.U16());
  out.text = r.Text(r.U32());
  if (r.ok() && out.status == ReplyStatus::Ok && out.request == RequestType::Stats) {
    out.received = r.U32();
    out.dropped = r.U32();
  }
  if (r.ok() && out.status == ReplyStatus::Ok && out.request == RequestType::ListAdapters) {
    const uint16_t count = r.U16();
    if (count > kMaxListedAdapters) return false;
    std::string ignored;
    for (uint16_t i = 0; i < count && r.ok(); ++i) {
      out.adapters.push_back(r.Text(r.U16()));
      if (r.ok() && !PlausibleAdapterName(out.adapters.back(), ignored)) return false;
    }
  }
  if (r.ok() && out.status == ReplyStatus::Ok && out.request == RequestType::Connection) {
    for (Endpoint* end : {&out.connection.client, &out.connection.server}) {
      end->family = r.U8();
      const auto address = r.Take(end->address.size());
      if (r.ok()) std::copy(address.begin(), address.end(), end->address.begin());
      end->port = r.U16();
      if (r.ok() && ((end->family != 4 && end->family != 6) || end->port == 0)) return false;
    }
  }
  return r.ok() && r.AtEnd();
}

void AppendFrame(std::vector<uint8_t>& out, const FrameHeader& header, const uint8_t* bytes) {
  // Written into a fixed block: this runs once per captured frame.
  uint8_t head[kHeaderSize + kFrameHeaderSize];
  PutHeader(head, static_cast<uint16_t>(MessageType::Frame), kFrameHeaderSize + header.capturedLength);
  PutLe(head + 8, static_cast<uint64_t>(header.seconds), 8);
  PutLe(head + 16, header.microseconds, 4);
  PutLe(head + 20, header.capturedLength, 4);
  PutLe(head + 24, header.wireLength, 4);
  out.insert(out.end(), head, head + sizeof head);
  out.insert(out.end(), bytes, bytes + header.capturedLength);
}

bool ParseFrame(std::span<const uint8_t> payload, FrameHeader& header, std::span<const uint8_t>& bytes) {
  Reader r(payload);
  header.seconds = r.I64();
  header.microseconds = r.U32();
  header.capturedLength = r.U32();
  header.wireLength = r.U32();
  if (!r.ok() || header.capturedLength != r.Left()) return false;
  bytes = r.Take(header.capturedLength);
  return r.ok();
}

void AppendFailure(std::vector<uint8_t>& out, const std::string& text) {
  AppendHeader(out, static_cast<uint16_t>(MessageType::Failure), static_cast<uint32_t>(text.size()));
  out.insert(out.end(), text.begin(), text.end());
}

uint8_t* Inbox::Space(size_t size) {
  if (head_ == tail_) head_ = tail_ = 0;
  if (buf_.size() - tail_ < size) {
    // Move what is left to the front before growing.
    if (head_ > 0) {
      std::memmove(buf_.data(), buf_.data() + head_, tail_ - head_);
      tail_ -= head_;
      head_ = 0;
    }
    if (buf_.size() - tail_ < size) buf_.resize(tail_ + size);
  }
  return buf_.data() + tail_;
}

Inbox::Next Inbox::Pop(uint16_t& type, std::span<const uint8_t>& payload) {
  if (tail_ - head_ < kHeaderSize) return Next::NeedMore;
  uint32_t length = 0;
  ReadHeader(buf_.data() + head_, length, type);
  if (length > max_) return Next::Oversized;
  if (tail_ - head_ - kHeaderSize < length) return Next::NeedMore;
  payload = std::span<const uint8_t>(buf_.data() + head_ + kHeaderSize, length);
  head_ += kHeaderSize + length;
  return Next::Message;
}

}  // namespace netvane::helper
