#pragma once
// What netvane-dump and the window open: a capture file (pcap, pcapng), read
// through CaptureReader, or a frame the save dialog wrote (its bytes or its
// hex text), told apart by the file's first bytes.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "pcapfile/capture_format.h"

namespace netvane {

// A file that is no capture and holds more than this is refused rather than
// taken for one frame: the largest frame's hex text, three characters a byte,
// and a line break.
inline constexpr uint64_t kMaxFrameFileBytes = 3 * uint64_t{kMaxFrameBytes} + 2;

struct SavedFile {
  std::FILE* stream = nullptr;  // at the file's start; the caller's to close
  bool capture = false;         // a capture file, else a saved frame
};

// Opens `path` for reading and tells which kind of file it is. False with
// the system's reason when it cannot be opened or read.
bool OpenSavedFile(const char* path, SavedFile& file, std::string& error);

// Reads the rest of a saved frame's file and closes it: the frame it holds.
// False with the reason when reading fails or the file holds more than
// kMaxFrameFileBytes.
bool ReadSavedFrame(std::FILE* stream, std::vector<uint8_t>& frame, std::string& error);

}  // namespace netvane
