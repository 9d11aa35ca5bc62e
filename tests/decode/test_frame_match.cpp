#include <gtest/gtest.h>

#include <string>

#include "decode/frame_match.h"
#include "tests/decode/golden_frames.h"

namespace netvane {
namespace {

using namespace netvane::testing;

TEST(FrameMatch, HexByteStrings) {
  const struct {
    const char* input;
    Bytes bytes;      // empty: refused
    const char* why;  // a part of the reason when refused
  } cases[] = {
      {"08 00 45", {0x08, 0x00, 0x45}, ""},
      {"080045", {0x08, 0x00, 0x45}, ""},
      {" 0a:0B-ff\t", {0x0A, 0x0B, 0xFF}, ""},
      {"", {}, "no byte"},
      {" : ", {}, "no byte"},
      {"8 00", {}, "one hex digit"},
      {"080", {}, "one hex digit"},
      {"08 0G", {}, "\"G\" is not a hex digit"},
      {"0x08", {}, "\"x\" is not a hex digit"},
  };
  for (const auto& c : cases) {
    std::string why;
    const auto parsed = ParseHexBytes(c.input, why);
    if (c.bytes.empty()) {
      EXPECT_FALSE(parsed) << c.input;
      EXPECT_NE(why.find(c.why), std::string::npos) << c.input << ": " << why;
    } else {
      ASSERT_TRUE(parsed) << c.input << ": " << why;
      EXPECT_EQ(*parsed, c.bytes) << c.input;
    }
  }
}

TEST(FrameMatch, BytesAndTextsWithinOneFrame) {
  // 32 bytes: filler, "GET /Index [x]@" from byte 13, filler, "!E" at the
  // end, so that the eight-at-a-time scans meet matches within a word, across
  // two and at the last place one can start.
  Bytes frame(32, 0x11);
  const std::string text = "GET /Index [x]@";
  std::copy(text.begin(), text.end(), frame.begin() + 13);
  frame[30] = '!';
  frame[31] = 'E';
  const struct {
    FindKind kind;
    const char* input;
    bool ignoreCase;
    bool match;
  } cases[] = {
      {FindKind::HexBytes, "21 45", false, true},      // the frame's last two bytes
      {FindKind::HexBytes, "21 45 00", false, false},  // would run past the end
      {FindKind::HexBytes, "11 11 11 11 11 11 11 11 11 11 11 11 11 47", false, true},
      {FindKind::Text, "index", false, false},
      {FindKind::Text, "index", true, true},
      {FindKind::Text, "iNDEX HTTP", true, false},
      {FindKind::Text, "get /INDEX", true, true},
      {FindKind::Text, "!e", true, true},
      {FindKind::Text, "!e", false, false},
      {FindKind::Text, "X", true, true},
      {FindKind::Text, "q", true, false},
      // Only letters fold: '@' is not '`', '[' is not '{'.
      {FindKind::Text, "`", true, false},
      {FindKind::Text, "{x}", true, false},
      {FindKind::Text, "[X]@", true, true},
  };
  for (const auto& c : cases) {
    std::string why;
    const auto m = FrameMatcher::Make(c.kind, c.input, c.ignoreCase, why);
    ASSERT_TRUE(m) << c.input << ": " << why;
    EXPECT_EQ(m->Matches(frame), c.match) << c.input << (c.ignoreCase ? " ignoring case" : "");
    EXPECT_FALSE(m->Matches(std::span(frame).first(4))) << c.input << " in a short frame";
  }
}

TEST(FrameMatch, AddressesInTheRowsCells) {
  Ip4Header ip;
  ip.source = {{10, 0, 0, 1}};
  ip.destination = {{192, 168, 100, 254}};
  const Bytes udp = UdpFrame(ip, 1024, 53, 8);
  const Bytes arp = ArpFrame(kBroadcast, kHostA, 1, {{10, 0, 0, 7}}, kHostB, {{10, 0, 0, 9}});
  // IPv6 with 10.0.0.1 where an IPv4 source would be: no address cell shows it.
  Bytes ipv6 = udp;
  ipv6[12] = 0x86, ipv6[13] = 0xDD;
  const Bytes cutShort(udp.begin(), udp.begin() + 32);  // ends inside the destination
  const struct {
    const char* input;
    const Bytes& frame;
    bool match;
  } cases[] = {
      {"10.0.0.1", udp, true},           {" 192.168.100.254 ", udp, true},
      {"10.0.0.7", arp, true},           {"10.0.0.9", arp, true},
      {"10.0.0.1", ipv6, false},         {"192.168.100.254", cutShort, false},
      {"00:0c:29:1a:2b:3c", udp, true},  {"52-54-0-AB-CD-EF", udp, true},
      {"52:54:00:AB:CD:EF", arp, false},  // only in the ARP body, not a row cell
  };
  for (const auto& c : cases) {
    std::string why;
    const auto m = FrameMatcher::Make(FindKind::Address, c.input, false, why);
    ASSERT_TRUE(m) << c.input << ": " << why;
    EXPECT_EQ(m->Matches(c.frame), c.match) << c.input;
  }
  for (const char* bad : {"10.0.0", "10.0.0.256", "10.0.0.1.2", "1000.0.0.1", "00:0C:29:1A:2B",
                          "00:0C-29:1A:2B:3C", "00:0C:29:1A:2B:3C0", ""}) {
    std::string why;
    EXPECT_FALSE(FrameMatcher::Make(FindKind::Address, bad, false, why)) << bad;
    EXPECT_NE(why.find("is not an address"), std::string::npos) << bad;
  }
}

}  // namespace
}  // namespace netvane
