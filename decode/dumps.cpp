#include "decode/dumps.h"

#include "decode/formatters.h"

namespace netvane {

std::string HexDump(std::span<const uint8_t> frame) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  // One allocation of exactly 3n characters, filled in one pass.
  std::string out(frame.size() * kHexDumpCharsPerByte, ' ');
  char* p = out.data();
  for (uint8_t b : frame) {
    p[0] = kHex[b >> 4];
    p[1] = kHex[b & 0x0F];
    p += kHexDumpCharsPerByte;
  }
  return out;
}

std::string TextDump(std::span<const uint8_t> frame) {
  std::string out(frame.size(), '.');
  for (std::size_t i = 0; i < frame.size(); ++i) out[i] = DumpChar(frame[i]);
  return out;
}

}  // namespace netvane
