// The saved-frame files: what the save dialog writes of a frame in each
// format, and what opening that file gives back.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "pcapfile/saved_file.h"

namespace netvane {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Of(const std::string& text) {
  return {text.begin(), text.end()};
}

// The content written, and the frame it reads back as: hex text stands for
// its bytes, and anything else (the binary format) is the frame as it is.
TEST(SavedFile, WhatIsWrittenReadsBackAsTheFrame) {
  const Bytes three = {0x00, 0x1A, 0xFF};
  const struct {
    const char* name;
    PacketFormat format;
    Bytes frame;
    std::string hex;
    Bytes content;
    Bytes readBack;
  } cases[] = {
      {"binary", PacketFormat::Binary, three, "ignored", three, three},
      {"hex: the dump's text", PacketFormat::Hex, three, "00 1A FF ", Of("00 1A FF "), three},
      {"binary of no frame", PacketFormat::Binary, {}, "00 ", {}, {}},
      {"hex of an empty dump", PacketFormat::Hex, three, "", {}, {}},
      // A frame whose bytes happen to be hex text is read back as what it spells.
      {"binary that is hex text", PacketFormat::Binary, Of("41 "), "", Of("41 "), {0x41}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes content = PacketFileContent(c.format, c.frame, c.hex);
    EXPECT_EQ(content, c.content);
    EXPECT_EQ(FrameFromPacketFile(content), c.readBack);
  }
}

// Hex text as an editor may leave it (the window's open test has the plain
// forms): either case, a CR LF at the end; anything else is a binary frame.
TEST(SavedFile, HexTextReadBack) {
  const struct {
    std::string text;
    bool hex;
    Bytes frame;
  } cases[] = {
      {"0a 1B ", true, {0x0A, 0x1B}},
      {"0A 1B \r\n", true, {0x0A, 0x1B}},
      {"0A 1B \n\n", false, {}},
      {"0A 1B", false, {}},
      {"0A  1B ", false, {}},
      {"0G ", false, {}},
      {"", false, {}},
  };
  for (const auto& c : cases) {
    Bytes frame = {0x99};
    EXPECT_EQ(ParseHexFrameText(Of(c.text), frame), c.hex) << c.text;
    EXPECT_EQ(frame, c.hex ? c.frame : Bytes{0x99}) << c.text;
  }
}

}  // namespace
}  // namespace netvane
