#include "decode/frame_file.h"

#include "decode/byte_reader.h"
#include "decode/formatters.h"

namespace netvane {
namespace {

// Length of the text without one final "\n" or "\r\n".
std::size_t WithoutLineBreak(const ByteReader& in) {
  std::size_t n = in.size();
  if (n > 0 && in.U8(n - 1) == '\n') {
    --n;
    if (n > 0 && in.U8(n - 1) == '\r') --n;
  }
  return n;
}

}  // namespace

bool ParseHexFrameText(std::span<const uint8_t> text, std::vector<uint8_t>& frame) {
  const ByteReader in(text);
  const std::size_t n = WithoutLineBreak(in);
  if (n == 0 || n % 3 != 0) return false;
  std::vector<uint8_t> bytes;
  bytes.reserve(n / 3);
  for (std::size_t at = 0; at < n; at += 3) {
    const int high = HexDigitValue(in.U8(at));
    const int low = HexDigitValue(in.U8(at + 1));
    if (high < 0 || low < 0 || in.U8(at + 2) != ' ') return false;
    bytes.push_back(static_cast<uint8_t>(high << 4 | low));
  }
  frame = std::move(bytes);
  return true;
}

std::vector<uint8_t> FrameFromPacketFile(std::span<const uint8_t> content) {
  std::vector<uint8_t> frame;
  if (ParseHexFrameText(content, frame)) return frame;
  return {content.begin(), content.end()};
}

}  // namespace netvane
