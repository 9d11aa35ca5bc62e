#include "pcapfile/saved_file.h"

#include <cerrno>
#include <cstring>

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

std::vector<uint8_t> PacketFileContent(PacketFormat format, std::span<const uint8_t> frame,
                                       std::string_view hexText) {
  if (format == PacketFormat::Hex) return {hexText.begin(), hexText.end()};
  return {frame.begin(), frame.end()};
}

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

bool OpenSavedFile(const char* path, SavedFile& file, std::string& error) {
  file = SavedFile{};
  std::FILE* stream = std::fopen(path, "rbe");
  if (stream == nullptr) {
    error = std::strerror(errno);
    return false;
  }
  uint8_t head[4] = {};
  const std::size_t got = std::fread(head, 1, sizeof head, stream);
  if (std::ferror(stream) != 0) {
    error = std::strerror(errno);
    std::fclose(stream);
    return false;
  }
  std::rewind(stream);
  file.stream = stream;
  file.capture = LooksLikeCaptureFile({head, got});
  return true;
}

bool ReadSavedFrame(std::FILE* stream, std::vector<uint8_t>& frame, std::string& error) {
  constexpr std::size_t limit = kMaxFrameFileBytes;
  std::vector<uint8_t> content;
  uint8_t buffer[1 << 16];
  std::size_t got = 0;
  while (content.size() <= limit && (got = std::fread(buffer, 1, sizeof buffer, stream)) > 0)
    content.insert(content.end(), buffer, buffer + got);
  const bool failed = std::ferror(stream) != 0;
  const int savedErrno = errno;
  std::fclose(stream);
  if (failed) {
    error = std::strerror(savedErrno);
    return false;
  }
  if (content.size() > limit) {
    error = "it is not a capture file (pcap or pcapng), and at more than " + std::to_string(limit) +
            " bytes it is too big to be a saved frame";
    return false;
  }
  frame = FrameFromPacketFile(content);
  return true;
}

}  // namespace netvane
