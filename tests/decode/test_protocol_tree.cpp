#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "decode/dumps.h"
#include "decode/protocol_tree.h"
#include "tests/decode/golden_frames.h"

namespace netvane {
namespace {

using namespace netvane::testing;

std::vector<std::string> Texts(const Section& s) {
  std::vector<std::string> out;
  for (const auto& line : s.lines) out.push_back(line.text);
  return out;
}

std::vector<std::string> Titles(const ProtocolTree& t) {
  std::vector<std::string> out;
  for (const auto& s : t.sections) out.push_back(s.title + "/" + std::to_string(s.lines.size()));
  return out;
}

// Every range lies inside the hex dump.
void ExpectRangesInsideTheDump(std::span<const uint8_t> frame, const ProtocolTree& tree) {
  const std::size_t dumpSize = HexDump(frame).size();
  for (std::size_t p = 0; p < tree.sections.size(); ++p) {
    const auto& lines = tree.sections[p].lines;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const HighlightRange r = lines[i].range;
      ASSERT_GT(r.count, 0u);
      ASSERT_LE(std::size_t{r.start} + r.count, dumpSize) << "section " << p << " line " << i;
    }
  }
}

Bytes OtherIp(uint8_t protocol) {
  return PaddedIp4(protocol);
}
Bytes WithEtherType(uint16_t type) {
  return PaddedEthernet(type);
}

TEST(ProtocolTree, SectionsByKindOfFrame) {
  Ip4Header udp;
  udp.protocol = 17;
  const struct {
    const char* what;
    Bytes frame;
    std::vector<std::string> sections;
    uint16_t etherType;
    uint8_t ipProtocol;
  } cases[] = {
      {"tcp",
       TcpFrame(Ip4Header{}, TcpHeader{}),
       {"Ethernet Header/3", "IP Header/13", "TCP Header/14"},
       0x0800,
       6},
      {"udp", UdpFrame(udp, 1, 2, 0), {"Ethernet Header/3", "IP Header/13", "UDP Header/4"}, 0x0800, 17},
      {"icmp", OtherIp(1), {"Ethernet Header/3", "IP Header/13"}, 0x0800, 1},
      {"arp",
       ArpFrame(kBroadcast, kHostA, 1, Ip4{}, Mac{}, Ip4{}),
       {"Ethernet Header/3", "Address Resolution Protocol/9"},
       0x0806,
       0},
      {"ipv6", WithEtherType(0x86DD), {"Ethernet Header/3"}, 0x86DD, 0},
      {"802.3", WithEtherType(100), {"Ethernet Header/3"}, 100, 0},
  };
  for (const auto& c : cases) {
    const ProtocolTree t = BuildProtocolTree(c.frame);
    EXPECT_EQ(Titles(t), c.sections) << c.what;
    EXPECT_EQ(t.etherType, c.etherType) << c.what;
    EXPECT_EQ(t.ipProtocol, c.ipProtocol) << c.what;
    ExpectRangesInsideTheDump(c.frame, t);
  }
}

TEST(ProtocolTree, TcpFrameLineTextsAndRanges) {
  Ip4Header ip;
  ip.tos = 0xB8;
  ip.id = 0x0102;
  ip.ttl = 128;
  TcpHeader tcp;
  tcp.sourcePort = 1025;
  tcp.destinationPort = 80;
  tcp.sequence = 0x0012ABCD;
  tcp.acknowledgment = 0xFEDCBA98;
  tcp.offsetByte = 0x5F;  // low nibble not shown
  tcp.flags = 0x12;
  tcp.window = 8192;
  tcp.checksum = 0x0A0B;
  tcp.urgent = 65535;
  const Bytes frame = TcpFrame(ip, tcp);
  const ProtocolTree t = BuildProtocolTree(frame);
  ASSERT_EQ(t.sections.size(), 3u);
  EXPECT_EQ(Texts(t.sections[0]),
            (std::vector<std::string>{"Destination Address - 52:54:00:AB:CD:EF",
                                      "Source Address - 00:0C:29:1A:2B:3C", "Protocol - 0x0800"}));
  EXPECT_EQ(Texts(t.sections[1]),
            (std::vector<std::string>{"Version - 0x4", "Header Length - 0x5", "Type of Service - 184",
                                      "Length - 40", "Identification - 258", "Flag : Don't Fragment - 1",
                                      "Flag : More Fragments - 0", "Fragment Offset - 0", "TTL - 128",
                                      "Protocol - 6 : TCP",
                                      "Header Checksum - " + std::to_string(frame[24] * 256 + frame[25]),
                                      "Source Address - 10.0.0.1", "Destination Address - 192.168.100.254"}));
  EXPECT_EQ(Texts(t.sections[2]),
            (std::vector<std::string>{
                "Source Port - 1025", "Destination Port - 80", "Sequence Number - 0x0012ABCD",
                "Acknowledgment Number - 0xFEDCBA98", "Offset - 5", "Flag : Urgent Pointer - 0",
                "Flag : ACK - 1", "Flag : PUSH - 0", "Flag : RESET - 0", "Flag : SYN - 1",
                "Flag : FINISH - 0", "Window Size - 8192", "Checksum - 0x0A0B", "Urgent Pointer - 65535"}));
  const std::vector<HighlightRange> ip_ranges{{42, 1}, {43, 2}, {45, 3}, {48, 6}, {54, 6},  {60, 1}, {60, 1},
                                              {60, 6}, {66, 3}, {69, 3}, {72, 6}, {78, 12}, {90, 12}};
  const std::vector<HighlightRange> tcp_ranges{{102, 6}, {108, 6}, {114, 12}, {126, 12}, {138, 1},
                                               {141, 3}, {141, 3}, {141, 3},  {141, 3},  {141, 3},
                                               {141, 3}, {144, 6}, {150, 6},  {156, 6}};
  for (std::size_t i = 0; i < ip_ranges.size(); ++i)
    EXPECT_EQ(t.sections[1].lines[i].range, ip_ranges[i]) << i;
  for (std::size_t i = 0; i < tcp_ranges.size(); ++i)
    EXPECT_EQ(t.sections[2].lines[i].range, tcp_ranges[i]) << i;
  ExpectRangesInsideTheDump(frame, t);
}

TEST(ProtocolTree, IpFlagWordAndProtocolLine) {
  const struct {
    uint16_t flags;
    uint8_t protocol;
    const char *df, *mf, *offset, *protocolLine;
  } cases[] = {
      {0x4000, 6, "1", "0", "0", "Protocol - 6 : TCP"},
      {0x2000, 17, "0", "1", "0", "Protocol - 17 : UDP"},
      {0x20B9, 1, "0", "1", "185", "Protocol - 1 : ICMP"},
      {0x1FFF, 41, "0", "0", "8191", "Protocol - 41 :     "},
      {0xE000, 255, "1", "1", "0", "Protocol - 255 :     "},
  };
  for (const auto& c : cases) {
    Ip4Header ip;
    ip.flags = c.flags;
    ip.protocol = c.protocol;
    Bytes f = Ethernet(kHostB, kHostA, 0x0800);
    AppendIp4(f, ip, 0);
    const ProtocolTree t = BuildProtocolTree(f);
    ASSERT_EQ(t.sections.size(), 2u) << c.flags;
    const auto texts = Texts(t.sections[1]);
    EXPECT_EQ(texts[5], std::string("Flag : Don't Fragment - ") + c.df);
    EXPECT_EQ(texts[6], std::string("Flag : More Fragments - ") + c.mf);
    EXPECT_EQ(texts[7], std::string("Fragment Offset - ") + c.offset);
    EXPECT_EQ(texts[9], c.protocolLine);
  }
}

TEST(ProtocolTree, VersionAndLengthNibbles) {
  const struct {
    uint8_t version, words;
    const char *versionLine, *lengthLine;
  } cases[] = {{4, 5, "Version - 0x4", "Header Length - 0x5"},
               {6, 0xF, "Version - 0x6", "Header Length - 0xF"},
               {0xA, 0, "Version - 0xA", "Header Length - 0x0"}};
  for (const auto& c : cases) {
    Ip4Header ip;
    ip.version = c.version;
    ip.headerWords = c.words;
    ip.protocol = 1;
    Bytes f = Ethernet(kHostB, kHostA, 0x0800);
    AppendIp4(f, ip, 0);
    const auto texts = Texts(BuildProtocolTree(f).sections.at(1));
    EXPECT_EQ(texts[0], c.versionLine);
    EXPECT_EQ(texts[1], c.lengthLine);
  }
}

TEST(ProtocolTree, TcpFlagsByte) {
  const struct {
    uint8_t flags;
    const char* shown;  // Urgent, ACK, PUSH, RESET, SYN, FINISH
  } cases[] = {{0x12, "010010"}, {0xC0, "000000"}, {0x3F, "111111"}, {0x01, "000001"}, {0x20, "100000"}};
  for (const auto& c : cases) {
    TcpHeader tcp;
    tcp.flags = c.flags;
    const ProtocolTree t = BuildProtocolTree(TcpFrame(Ip4Header{}, tcp));
    std::string shown;
    for (int i = 5; i <= 10; ++i) shown += t.sections.at(2).lines[i].text.back();
    EXPECT_EQ(shown, c.shown) << int{c.flags};
  }
}

// The transport header follows the IP header length, and its ranges with it.
TEST(ProtocolTree, TransportHeaderBehindIpOptions) {
  for (uint8_t words = 5; words <= 15; ++words) {
    Ip4Header ip;
    ip.headerWords = words;
    TcpHeader tcp;
    tcp.sourcePort = 2000 + words;
    tcp.flags = 0x02;
    const Bytes frame = TcpFrame(ip, tcp);
    const ProtocolTree t = BuildProtocolTree(frame);
    ASSERT_EQ(t.sections.size(), 3u) << int{words};
    const uint32_t shift = 3 * 4 * (words - 5u);
    EXPECT_EQ(t.sections[2].lines[0].text, "Source Port - " + std::to_string(2000 + words));
    EXPECT_EQ(t.sections[2].lines[9].text, "Flag : SYN - 1");
    EXPECT_EQ(t.sections[2].lines[0].range, (HighlightRange{102 + shift, 6}));
    EXPECT_EQ(t.sections[2].lines[9].range, (HighlightRange{141 + shift, 3}));
    EXPECT_EQ(t.sections[2].lines[13].range, (HighlightRange{156 + shift, 6}));
    // The IP section itself stays where it is.
    EXPECT_EQ(t.sections[1].lines[12].range, (HighlightRange{90, 12}));
    ExpectRangesInsideTheDump(frame, t);

    Ip4Header udpIp = ip;
    udpIp.protocol = 17;
    const Bytes udp = UdpFrame(udpIp, 53, 5353, 0);
    const ProtocolTree u = BuildProtocolTree(udp);
    ASSERT_EQ(u.sections.size(), 3u);
    EXPECT_EQ(u.sections[2].lines[1].text, "Destination Port - 5353");
    EXPECT_EQ(u.sections[2].lines[3].range, (HighlightRange{120 + shift, 6}));
    ExpectRangesInsideTheDump(udp, u);
  }
}

TEST(ProtocolTree, NoTransportSectionWhereThereIsNoTransportHeader) {
  const struct {
    const char* what;
    uint8_t words;
    uint16_t flags;
    uint8_t protocol;
    std::size_t sections;
  } cases[] = {
      {"first fragment", 5, 0x2000, 17, 3},  {"dont fragment", 5, 0x4000, 6, 3},
      {"middle fragment", 5, 0x20B9, 17, 2}, {"last fragment", 5, 0x00B9, 6, 2},
      {"offset 1", 5, 0x0001, 6, 2},         {"header length 4", 4, 0x4000, 6, 2},
      {"header length 0", 0, 0x4000, 17, 2},
  };
  for (const auto& c : cases) {
    Ip4Header ip;
    ip.headerWords = c.words;
    ip.flags = c.flags;
    ip.protocol = c.protocol;
    Bytes f = Ethernet(kHostB, kHostA, 0x0800);
    AppendIp4(f, ip, 40);
    f.resize(f.size() + 40, 0x55);
    const ProtocolTree t = BuildProtocolTree(f);
    EXPECT_EQ(t.sections.size(), c.sections) << c.what;
    EXPECT_EQ(t.ipProtocol, c.protocol) << c.what;
  }
}

// Frames of every length up to a whole TCP, UDP and ARP frame: sections appear
// only once their fixed header is complete, and every range stays in the dump.
TEST(ProtocolTree, ShortFramesNeverReachPastTheirBytes) {
  Ip4Header udpIp;
  udpIp.protocol = 17;
  Ip4Header optionsIp;
  optionsIp.headerWords = 6;
  const struct {
    const char* what;
    Bytes frame;
    std::size_t second, third;  // lengths from which sections 2 and 3 appear
  } cases[] = {
      {"tcp", TcpFrame(Ip4Header{}, TcpHeader{}), 34, 54},
      {"udp", UdpFrame(udpIp, 1, 2, 0), 34, 42},
      {"tcp behind options", TcpFrame(optionsIp, TcpHeader{}), 34, 58},
      {"arp", ArpFrame(kHostA, kHostB, 1, Ip4{}, Mac{}, Ip4{}), 42, SIZE_MAX},
  };
  for (const auto& c : cases) {
    for (std::size_t n = 0; n <= c.frame.size(); ++n) {
      const Bytes cut(c.frame.begin(), c.frame.begin() + static_cast<std::ptrdiff_t>(n));
      const ProtocolTree t = BuildProtocolTree(cut);
      const std::size_t expected = n < 14 ? 0 : n < c.second ? 1 : n < c.third ? 2 : 3;
      ASSERT_EQ(t.sections.size(), expected) << c.what << " length " << n;
      if (n < 14) {
        EXPECT_EQ(t.etherType, 0) << n;
      }
      ExpectRangesInsideTheDump(cut, t);
    }
  }
}

TEST(ProtocolTree, RandomBytesKeepRangesInsideTheDump) {
  std::mt19937 rng(12345);
  for (int i = 0; i < 20000; ++i) {
    Bytes f(rng() % 90);
    for (auto& b : f) b = static_cast<uint8_t>(rng());
    if (f.size() > 13 && i % 2 == 0) {  // bias towards IP and ARP
      f[12] = 0x08;
      f[13] = i % 4 == 0 ? 0x00 : 0x06;
    }
    ExpectRangesInsideTheDump(f, BuildProtocolTree(f));
  }
}

}  // namespace
}  // namespace netvane
