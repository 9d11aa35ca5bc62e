#include "test_frames.h"

#include <algorithm>

namespace viewtest {

Bytes Ethernet(uint16_t etherType, const Bytes& payload) {
  Bytes f = {0x00,
             0x0C,
             0x29,
             0x1A,
             0x2B,
             0x3C,
             0x00,
             0x50,
             0x56,
             0xC0,
             0x00,
             0x08,
             static_cast<uint8_t>(etherType >> 8),
             static_cast<uint8_t>(etherType)};
  f.insert(f.end(), payload.begin(), payload.end());
  return f;
}

Bytes Ipv4(uint8_t protocol, const Bytes& payload, int ihl, uint16_t flags) {
  const int total = ihl * 4 + static_cast<int>(payload.size());
  Bytes h = {static_cast<uint8_t>(0x40 | ihl),
             0x00,
             static_cast<uint8_t>(total >> 8),
             static_cast<uint8_t>(total),
             0x1C,
             0x46,
             static_cast<uint8_t>(flags >> 8),
             static_cast<uint8_t>(flags),
             0x40,
             protocol,
             0xB1,
             0xE6,
             192,
             168,
             1,
             10,
             10,
             0,
             0,
             1};
  h.resize(static_cast<std::size_t>(ihl) * 4, 0x00);
  h.insert(h.end(), payload.begin(), payload.end());
  return h;
}

Bytes TcpHeader(uint8_t flags) {
  return {0x04, 0xD2,  0x00, 0x50,  // ports 1234 -> 80
          0x12, 0x34,  0x56, 0x78,  // sequence
          0x9A, 0xBC,  0xDE, 0xF0,  // acknowledgment
          0x50, flags, 0xFA, 0xF0,  // offset 5, flags, window 64240
          0xAB, 0xCD,  0x00, 0x00};
}

Bytes UdpHeader() {
  return {0x00, 0x35, 0xC0, 0x01, 0x00, 0x10, 0x12, 0xEF, 'h', 'e', 'l', 'l', 'o', '!', '\n', 0};
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
  Bytes arp = {0x00, 0x01, 0x08, 0x00, 6,    4,    0x00, 0x01, 0x00, 0x50, 0x56, 0xC0, 0x00, 0x08,
               192,  168,  1,    10,   0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 192,  168,  1,    1};
  Bytes f = Ethernet(0x0806, arp);
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
