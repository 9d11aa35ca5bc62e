#pragma once
// The files the save dialog writes of one frame, and what netvane-dump and the
// window open: a capture file (pcap, pcapng), read through CaptureReader, or a
// saved frame, told apart by the file's first bytes.
//
// A saved frame has one of two formats, neither with a header, a length or
// anything after the data: the binary format, the frame's bytes as stored; and
// the hex text format, the hex dump's text, two upper-case hex digits and one
// blank per byte on one line. Read back, hex text may have digits of either
// case and one line break after its last blank, as an editor may add.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "pcapfile/capture_format.h"

namespace netvane {

// A file that is no capture and holds more than this is refused rather than
// taken for one frame: the largest frame's hex text, three characters a byte,
// and a line break.
inline constexpr uint64_t kMaxFrameFileBytes = 3 * uint64_t{kMaxFrameBytes} + 2;

enum class PacketFormat { Binary, Hex };

// The file content for a frame: its bytes, or the hex dump's text `hexText`
// (8-bit characters) as the window shows it.
std::vector<uint8_t> PacketFileContent(PacketFormat format, std::span<const uint8_t> frame,
                                       std::string_view hexText);

// True when `text` is hex text: one or more pairs of hex digits (either
// case), each followed by one blank, and at most one line break after the
// last blank. `frame` then holds the bytes; otherwise it is left as it was.
bool ParseHexFrameText(std::span<const uint8_t> text, std::vector<uint8_t>& frame);

// The frame a saved packet file holds: the bytes its hex text stands for, or,
// when it is not hex text, its content as it is (the binary format). An empty
// file is a frame of no bytes.
std::vector<uint8_t> FrameFromPacketFile(std::span<const uint8_t> content);

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
