#pragma once
// Hex dump ("00 0C 29 ", three characters per byte) and character dump texts.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace netvane {

// Characters of the hex dump per frame byte: two digits and a blank.
inline constexpr std::size_t kHexDumpCharsPerByte = 3;

std::string HexDump(std::span<const uint8_t> frame);
// Byte 0 as ".", every other byte as its own 8-bit character.
std::string TextDump(std::span<const uint8_t> frame);

}  // namespace netvane
