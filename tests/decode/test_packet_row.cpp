#include <gtest/gtest.h>

#include <array>
#include <string>

#include "decode/packet_row.h"
#include "tests/decode/golden_frames.h"

namespace netvane {
namespace {

using namespace netvane::testing;
using Row = std::array<std::string, kColumnCount>;

Bytes WithEtherType(uint16_t type) {
  return PaddedEthernet(type, 0x11);
}
Bytes IpWithProtocol(uint8_t protocol) {
  return PaddedIp4(protocol);
}

TEST(PacketRow, HeaderTexts) {
  EXPECT_STREQ(kColumnHeaders[kNumber], "Packet Nr");
  EXPECT_STREQ(kColumnHeaders[kSourceCard], "Source Card");
  EXPECT_STREQ(kColumnHeaders[kDestinationCard], "Destination Card");
  EXPECT_STREQ(kColumnHeaders[kSourceIp], "Source IP");
  EXPECT_STREQ(kColumnHeaders[kDestinationIp], "Destination IP");
  EXPECT_STREQ(kColumnHeaders[kProtocol], "Protocol");
}

TEST(PacketRow, WholeRowsByKindOfFrame) {
  const Mac zero{{0, 0, 0, 0, 0, 0}};
  const Ip4 sender{{10, 0, 0, 1}}, target{{172, 16, 5, 99}};
  Ip4Header options;
  options.headerWords = 7;  // the row ignores the header length
  const struct {
    const char* what;
    Bytes frame;
    uint32_t number;
    Row row;
  } cases[] = {
      {"tcp",
       IpWithProtocol(6),
       1,
       {"1", "00:0C:29:1A:2B:3C", "52:54:00:AB:CD:EF", "10.0.0.1", "192.168.100.254", "IP/TCP"}},
      {"udp",
       IpWithProtocol(17),
       10,
       {"10", "00:0C:29:1A:2B:3C", "52:54:00:AB:CD:EF", "10.0.0.1", "192.168.100.254", "IP/UDP"}},
      {"icmp",
       IpWithProtocol(1),
       4294967295u,
       {"4294967295", "00:0C:29:1A:2B:3C", "52:54:00:AB:CD:EF", "10.0.0.1", "192.168.100.254", "IP/ICMP"}},
      {"unlisted",
       IpWithProtocol(41),
       2,
       {"2", "00:0C:29:1A:2B:3C", "52:54:00:AB:CD:EF", "10.0.0.1", "192.168.100.254", "IP/    "}},
      {"options",
       TcpFrame(options, TcpHeader{}),
       3,
       {"3", "00:0C:29:1A:2B:3C", "52:54:00:AB:CD:EF", "10.0.0.1", "192.168.100.254", "IP/TCP"}},
      // ARP: sender protocol address from bytes 28-31, target from 38-41, one trailing blank.
      {"arp",
       ArpFrame(kBroadcast, kHostB, 1, sender, zero, target),
       5,
       {"5", "52:54:00:AB:CD:EF", "FF:FF:FF:FF:FF:FF", "10.0.0.1", "172.16.5.99", "ARP "}},
      {"ipv6",
       WithEtherType(0x86DD),
       6,
       {"6", "00:0C:29:1A:2B:3C", "52:54:00:AB:CD:EF", "", "", "IP version 6"}},
      {"802.3", WithEtherType(1500), 7, {"7", "00:0C:29:1A:2B:3C", "52:54:00:AB:CD:EF", "", "", "IEEE802.3"}},
      {"experimental",
       WithEtherType(257),
       8,
       {"8", "00:0C:29:1A:2B:3C", "52:54:00:AB:CD:EF", "", "", "Experimental"}},
      {"unknown",
       WithEtherType(0x8100),
       9,
       {"9", "00:0C:29:1A:2B:3C", "52:54:00:AB:CD:EF", "", "", "Unknown"}},
      {"rarp",
       WithEtherType(0x8035),
       11,
       {"11", "00:0C:29:1A:2B:3C", "52:54:00:AB:CD:EF", "", "",
        "Reverse Address Resolution Protocol (RARP)"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PacketRow(c.frame, c.number), c.row) << c.what;
    for (int column = 0; column < kColumnCount; ++column)
      EXPECT_EQ(RowCell(c.frame, c.number, column), c.row[column]) << c.what << " column " << column;
  }
}

// Cells whose bytes are not all there stay empty; nothing is read past the end.
TEST(PacketRow, ShortFramesLeaveMissingCellsEmpty) {
  const Bytes ip = IpWithProtocol(6);
  const Bytes arp = ArpFrame(kHostB, kHostA, 1, Ip4{{1, 2, 3, 4}}, Mac{}, Ip4{{5, 6, 7, 8}});
  const std::string a = "00:0C:29:1A:2B:3C", b = "52:54:00:AB:CD:EF";
  const struct {
    const Bytes* frame;
    std::size_t length;
    Row row;
  } cases[] = {
      {&ip, 0, {"1", "", "", "", "", ""}},
      {&ip, 5, {"1", "", "", "", "", ""}},
      {&ip, 6, {"1", "", b, "", "", ""}},
      {&ip, 11, {"1", "", b, "", "", ""}},
      {&ip, 12, {"1", a, b, "", "", ""}},
      {&ip, 13, {"1", a, b, "", "", ""}},
      {&ip, 14, {"1", a, b, "", "", "IP/"}},
      {&ip, 20, {"1", a, b, "", "", "IP/"}},
      {&ip, 23, {"1", a, b, "", "", "IP/"}},
      {&ip, 24, {"1", a, b, "", "", "IP/TCP"}},
      {&ip, 29, {"1", a, b, "", "", "IP/TCP"}},
      {&ip, 30, {"1", a, b, "10.0.0.1", "", "IP/TCP"}},
      {&ip, 33, {"1", a, b, "10.0.0.1", "", "IP/TCP"}},
      {&ip, 34, {"1", a, b, "10.0.0.1", "192.168.100.254", "IP/TCP"}},
      {&arp, 14, {"1", a, b, "", "", "ARP "}},
      {&arp, 31, {"1", a, b, "", "", "ARP "}},
      {&arp, 32, {"1", a, b, "1.2.3.4", "", "ARP "}},
      {&arp, 41, {"1", a, b, "1.2.3.4", "", "ARP "}},
      {&arp, 42, {"1", a, b, "1.2.3.4", "5.6.7.8", "ARP "}},
  };
  for (const auto& c : cases) {
    // A copy of exactly `length` bytes, so that a sanitizer sees any overread.
    const Bytes cut(c.frame->begin(), c.frame->begin() + static_cast<std::ptrdiff_t>(c.length));
    EXPECT_EQ(PacketRow(cut, 1), c.row) << "length " << c.length;
  }
}

TEST(PacketRow, AppendPacketRowJoinsCellsWithTheSeparator) {
  std::string out = "x";
  AppendPacketRow(out, WithEtherType(0x86DD), 12, '\t');
  EXPECT_EQ(out, "x12\t00:0C:29:1A:2B:3C\t52:54:00:AB:CD:EF\t\t\tIP version 6");
}

TEST(IsBroadcast, OnlyAllOnesDestination) {
  const struct {
    Bytes frame;
    bool broadcast;
  } cases[] = {
      {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, true},
      {Ethernet(kBroadcast, kHostA, 0x0806), true},
      {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}, false},
      {{0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, false},
      {Ethernet(Mac{{0x01, 0x00, 0x5E, 0x00, 0x00, 0x01}}, kHostA, 0x0800), false},
      {Ethernet(kHostA, kBroadcast, 0x0800), false},  // broadcast source does not count
      {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, false},        // too short to hold a destination
      {{}, false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsBroadcast(c.frame), c.broadcast) << c.frame.size();
}

}  // namespace
}  // namespace netvane
