// Where the conversations and the reassembly find ports and payload: behind
// IPv4 options and IPv6 extension headers, never in a later fragment, never
// in Ethernet padding or past the captured bytes. The live tests run IPv4
// without options only.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode/transport_headers.h"
#include "tests/support/frames.h"

namespace {

using netvane::testing::Bytes;

void Put16(Bytes& f, uint16_t v) {
  f.push_back(static_cast<uint8_t>(v >> 8));
  f.push_back(static_cast<uint8_t>(v));
}

// An IPv6 frame: the fixed header, `extensions` (each a next-header value and
// its bytes, whose first byte is filled in), then a TCP (6) or UDP (17) header
// and `payload` bytes.
Bytes Ipv6Frame(const std::vector<std::pair<uint8_t, Bytes>>& extensions, uint8_t transport,
                std::size_t payload) {
  Bytes rest;
  for (std::size_t k = 0; k < extensions.size(); ++k) {
    Bytes ext = extensions[k].second;
    ext[0] = k + 1 < extensions.size() ? extensions[k + 1].first : transport;
    rest.insert(rest.end(), ext.begin(), ext.end());
  }
  if (transport == 6) {
    netvane::testing::TcpHeader tcp;
    netvane::testing::AppendTcp(rest, tcp);
  } else {
    netvane::testing::AppendUdp(rest, 5353, 53, static_cast<uint16_t>(8 + payload), 0);
  }
  netvane::testing::AppendPayload(rest, payload);
  Bytes f = netvane::testing::Ethernet(netvane::testing::kHostB, netvane::testing::kHostA, 0x86DD);
  f.insert(f.end(), {0x60, 0, 0, 0});
  Put16(f, static_cast<uint16_t>(rest.size()));
  f.push_back(extensions.empty() ? transport : extensions[0].first);
  f.push_back(64);
  for (int k = 0; k < 32; ++k) f.push_back(static_cast<uint8_t>(k));
  f.insert(f.end(), rest.begin(), rest.end());
  return f;
}

const Bytes kHopByHop(8, 0);                                              // length field 0: 8 bytes
const Bytes kRouting = {0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};  // length 1: 16 bytes
const Bytes kAuthentication = [] {                                        // length 4: (4 + 2) * 4 = 24 bytes
  Bytes b(24, 0);
  b[1] = 4;
  return b;
}();
const Bytes kFirstFragment = {0, 0, 0x00, 0x01, 0, 0, 0, 1};  // offset 0, more to come
const Bytes kLaterFragment = {0, 0, 0x00, 0x40, 0, 0, 0, 1};  // offset 8 (x 8 bytes)

struct Case {
  const char* name;
  Bytes frame;
  bool hasPorts;
  bool tcp;
  uint32_t payloadLength;
  uint32_t capturedPayload;
  std::size_t payloadOffset;
};

TEST(TransportHeaders, FindsTheTransportHeaderWhereThePacketSaysItIs) {
  netvane::testing::Ip4Header options;
  options.headerWords = 7;
  netvane::testing::Ip4Header laterFragment;
  laterFragment.flags = 0x2001;
  Bytes cut = Ipv6Frame({{0, kHopByHop}, {43, kRouting}}, 6, 10);
  cut.resize(14 + 40 + 8 + 1);  // the routing header's first byte only
  Bytes truncated = netvane::testing::TcpFrame({}, {}, 100);
  truncated.resize(14 + 20 + 20 + 30);
  Bytes padded = netvane::testing::TcpFrame({}, {}, 0);
  padded.resize(60, 0xEE);

  const std::vector<Case> cases = {
      {"IPv4 options", netvane::testing::TcpFrame(options, {}, 5), true, true, 5, 5, 14 + 28 + 20},
      {"Ethernet padding is no payload", padded, true, true, 0, 0, 14 + 20 + 20},
      {"cut by the snapshot length", truncated, true, true, 100, 30, 14 + 20 + 20},
      {"IPv4 later fragment", netvane::testing::TcpFrame(laterFragment, {}, 5), false, false, 0, 0, 0},
      {"IPv6 hop-by-hop and routing", Ipv6Frame({{0, kHopByHop}, {43, kRouting}}, 6, 3), true, true, 3, 3,
       14 + 40 + 24 + 20},
      {"IPv6 authentication header", Ipv6Frame({{51, kAuthentication}}, 6, 2), true, true, 2, 2,
       14 + 40 + 24 + 20},
      {"IPv6 first fragment: ports, no segment to follow", Ipv6Frame({{44, kFirstFragment}}, 6, 4), true,
       false, 0, 0, 0},
      {"IPv6 later fragment", Ipv6Frame({{44, kLaterFragment}}, 6, 4), false, false, 0, 0, 0},
      {"IPv6 chain past the captured bytes", cut, false, false, 0, 0, 0},
  };
  for (const Case& c : cases) {
    const netvane::TransportHeaders h = netvane::DecodeTransportHeaders(c.frame);
    EXPECT_EQ(h.hasPorts, c.hasPorts) << c.name;
    EXPECT_EQ(h.tcp, c.tcp) << c.name;
    if (c.hasPorts) {
      EXPECT_EQ(h.srcPort, 49152) << c.name;
      EXPECT_EQ(h.dstPort, 80) << c.name;
    }
    EXPECT_EQ(h.payloadLength, c.payloadLength) << c.name;
    EXPECT_EQ(h.capturedPayload, c.capturedPayload) << c.name;
    EXPECT_EQ(h.payloadOffset, c.payloadOffset) << c.name;
  }
  // A UDP datagram behind extension headers has its ports too.
  const netvane::TransportHeaders udp = netvane::DecodeTransportHeaders(Ipv6Frame({{60, kHopByHop}}, 17, 4));
  EXPECT_TRUE(udp.hasPorts);
  EXPECT_EQ(udp.protocol, 17);
  EXPECT_EQ(udp.srcPort, 5353);
}

}  // namespace
