#pragma once
// Frames built byte by byte for the view tests.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace viewtest {

using Bytes = std::vector<uint8_t>;

// Ethernet II header (destination 00:0C:29:1A:2B:3C, source 00:50:56:C0:00:08) + payload.
Bytes Ethernet(uint16_t etherType, const Bytes& payload);
// IPv4 header of `ihl` words (options zero-filled) + payload; flags word `flags`.
Bytes Ipv4(uint8_t protocol, const Bytes& payload, int ihl = 5, uint16_t flags = 0x4000);
Bytes TcpHeader(uint8_t flags = 0x12);
Bytes UdpHeader();

Bytes TcpFrame(int ihl = 5);
Bytes UdpFrame();
Bytes IcmpFrame();
Bytes ArpFrame();  // request, padded to 60 bytes
Bytes Ipv6Frame();
// The first `n` bytes of a frame.
Bytes Cut(const Bytes& frame, std::size_t n);

}  // namespace viewtest
