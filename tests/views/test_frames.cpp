#include "test_frames.h"

#include <algorithm>

#include "tests/support/frames.h"

namespace viewtest {
namespace {

constexpr netvane::testing::Mac kVmHost{{0x00, 0x50, 0x56, 0xC0, 0x00, 0x08}};

}  // namespace

Bytes Ethernet(uint16_t etherType, const Bytes& payload) {
  Bytes f = netvane::testing::Ethernet(netvane::testing::kHostA, kVmHost, etherType);
  f.insert(f.end(), payload.begin(), payload.end());
  return f;
}

Bytes Ipv4(uint8_t protocol, const Bytes& payload, int ihl, uint16_t flags) {
  netvane::testing::Ip4Header ip;
  ip.headerWords = static_cast<uint8_t>(ihl);
  ip.id = 0x1C46;
  ip.flags = flags;
  ip.protocol = protocol;
  ip.source = {{192, 168, 1, 10}};
  ip.destination = {{10, 0, 0, 1}};
  Bytes h;
  netvane::testing::AppendIp4(h, ip, payload.size());
  // These views show the checksum as it stands, so it is a fixed one; options are zeros.
  h[10] = 0xB1;
  h[11] = 0xE6;
  std::fill(h.begin() + 20, h.end(), 0x00);
  h.insert(h.end(), payload.begin(), payload.end());
  return h;
}

Bytes TcpHeader(uint8_t flags) {
  Bytes h;
  netvane::testing::AppendTcp(h, {1234, 80, 0x12345678, 0x9ABCDEF0, 0x50, flags, 64240, 0xABCD, 0});
  return h;
}

Bytes UdpHeader() {
  Bytes h;
  netvane::testing::AppendUdp(h, 53, 0xC001, 16, 0x12EF);
  h.insert(h.end(), {'h', 'e', 'l', 'l', 'o', '!', '\n', 0});
  return h;
}

Bytes TcpFrame(int ihl) {
  return Ethernet(0x0800, Ipv4(6, TcpHeader(), ihl));
}
Bytes UdpFrame() {
  return Ethernet(0x0800, Ipv4(17, UdpHeader()));
}
Bytes IcmpFrame() {
  return Ethernet(0x0800, Ipv4(1, {0x08, 0x00, 0xF7, 0xFF, 0x00, 0x01, 0x00, 0x01}));
}

Bytes ArpFrame() {
  Bytes f = netvane::testing::ArpFrame(netvane::testing::kHostA, kVmHost, 1, {{192, 168, 1, 10}}, {},
                                       {{192, 168, 1, 1}});
  f.resize(60, 0x00);
  return f;
}

Bytes Ipv6Frame() {
  Bytes p(40, 0x00);
  p[0] = 0x60;
  p[6] = 58;  // next header ICMPv6
  p[7] = 64;
  return Ethernet(0x86DD, p);
}

Bytes Cut(const Bytes& frame, std::size_t n) {
  return Bytes(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(std::min(n, frame.size())));
}

}  // namespace viewtest
