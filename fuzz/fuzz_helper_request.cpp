// The capture helper's side of its socket: any bytes a caller may send, cut
// into messages and parsed as requests. A request that parses must encode
// back to exactly the bytes it came from, so nothing is read that was not
// there and nothing is silently ignored. The same bytes are also parsed as
// the helper's replies and frames, the driver's side.
#include <cstdint>
#include <cstring>
#include <span>
#include <utility>

#include "helper/protocol.h"

using namespace netvane::helper;

namespace {

void Drain(Inbox& inbox) {
  uint16_t type = 0;
  std::span<const uint8_t> payload;
  while (inbox.Pop(type, payload) == Inbox::Next::Message) {
    Request request;
    std::string error;
    if (ParseRequest(type, payload, request, error)) {
      const std::vector<uint8_t> again = EncodeRequest(request);
      if (again.size() != kHeaderSize + payload.size() ||
          std::memcmp(again.data() + kHeaderSize, payload.data(), payload.size()) != 0)
        __builtin_trap();
    } else if (error.empty()) {
      __builtin_trap();  // every refusal says why
    }
    Reply reply;
    (void)ParseReply(payload, reply);
    FrameHeader header;
    std::span<const uint8_t> bytes;
    if (ParseFrame(payload, header, bytes) && bytes.size() != header.capturedLength) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Two reads, split where the first byte says: messages span reads.
  Inbox inbox(kMaxRequestPayload);
  const size_t split = size > 0 ? data[0] % (size + 1) : 0;
  for (const auto& [from, count] : {std::pair{size_t{0}, split}, std::pair{split, size - split}}) {
    if (count == 0) continue;
    std::memcpy(inbox.Space(count), data + from, count);
    inbox.Commit(count);
    Drain(inbox);
  }
  return 0;
}
