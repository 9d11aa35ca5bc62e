#pragma once
// The two files the save dialog writes of one frame, read back: the binary
// format (the frame's bytes, nothing else) and the hex text format (two hex
// digits and one blank per byte, as the hex dump shows them).

#include <cstdint>
#include <span>
#include <vector>

namespace netvane {

// True when `text` is hex text: one or more pairs of hex digits (either
// case), each followed by one blank, and at most one line break after the
// last blank (as an editor may add). `frame` then holds the bytes; otherwise
// it is left as it was.
bool ParseHexFrameText(std::span<const uint8_t> text, std::vector<uint8_t>& frame);

// The frame a saved packet file holds: the bytes its hex text stands for, or,
// when it is not hex text, its content as it is (the binary format). An empty
// file is a frame of no bytes.
std::vector<uint8_t> FrameFromPacketFile(std::span<const uint8_t> content);

}  // namespace netvane
