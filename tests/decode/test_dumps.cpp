#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode/dumps.h"

namespace netvane {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(Dumps, HexAndTextOfCraftedBytes) {
  const struct {
    Bytes bytes;
    std::string hex;
    std::string text;
  } cases[] = {
      {{}, "", ""},
      {{0x00}, "00 ", "."},
      {{0xAB}, "AB ", "\xAB"},
      {{0x00, 0x0C, 0x29}, "00 0C 29 ", ".\x0C)"},
      {{0x2E, 0x00, 0x41}, "2E 00 41 ", "..A"},
      {{0x0D, 0x0A}, "0D 0A ", "\r\n"},
      {{0xff, 0x7f, 0x80}, "FF 7F 80 ", "\xFF\x7F\x80"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HexDump(c.bytes), c.hex);
    EXPECT_EQ(TextDump(c.bytes), c.text);
  }
}

// Byte i sits at characters 3i..3i+2 for every byte value and frame length.
TEST(Dumps, EveryByteAtItsPlace) {
  Bytes frame(20000);
  for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i * 7 + 3);
  const std::string hex = HexDump(frame);
  const std::string text = TextDump(frame);
  ASSERT_EQ(hex.size(), 3 * frame.size());
  ASSERT_EQ(text.size(), frame.size());
  static const char digits[] = "0123456789ABCDEF";
  for (std::size_t i = 0; i < frame.size(); ++i) {
    ASSERT_EQ(hex[3 * i], digits[frame[i] >> 4]) << i;
    ASSERT_EQ(hex[3 * i + 1], digits[frame[i] & 15]) << i;
    ASSERT_EQ(hex[3 * i + 2], ' ') << i;
    ASSERT_EQ(text[i], frame[i] == 0 ? '.' : static_cast<char>(frame[i])) << i;
  }
}

}  // namespace
}  // namespace netvane
