#include "pcapfile/saved_file.h"

#include <cerrno>
#include <cstring>

#include "decode/frame_file.h"
#include "pcapfile/capture_reader.h"

namespace netvane {

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
