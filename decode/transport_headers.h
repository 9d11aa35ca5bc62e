#pragma once
// The real headers of a frame, for the conversations table and TCP stream
// reassembly: unlike the protocol tree's fixed offsets, this reads the IPv4
// header length, walks IPv6's extension headers to the transport header and
// reads the TCP data offset, so that ports and payload are where the packet
// says they are. Everything is read through ByteReader; nothing past the
// captured bytes is touched.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace netvane {

enum class NetworkKind : uint8_t { None, Ipv4, Ipv6 };

struct TransportHeaders {
  bool ethernet = false;  // the 14-byte Ethernet header is all there
  std::array<uint8_t, 6> srcMac{}, dstMac{};

  NetworkKind network = NetworkKind::None;
  uint8_t addressLength = 0;  // 4 or 16 when network is set
  std::array<uint8_t, 16> srcIp{}, dstIp{};
  // The transport protocol: IPv4's protocol field, or IPv6's last next header.
  uint8_t protocol = 0;
  // The datagram is a fragment; only the first (offset 0) carries the ports.
  bool fragment = false;
  bool firstFragment = true;

  // TCP or UDP with its ports in the captured bytes.
  bool hasPorts = false;
  uint16_t srcPort = 0, dstPort = 0;

  // TCP only (protocol 6, hasPorts, not a fragment, the whole header captured).
  bool tcp = false;
  uint32_t seq = 0, ack = 0;
  uint8_t tcpFlags = 0;
  // Where the segment's payload starts in the frame, how long the packet
  // says it is, and how much of it was captured (less when the snapshot
  // length cut the frame; Ethernet padding is never payload).
  std::size_t payloadOffset = 0;
  uint32_t payloadLength = 0;
  uint32_t capturedPayload = 0;
};

namespace tcp_flag {
inline constexpr uint8_t kFin = 0x01;
inline constexpr uint8_t kSyn = 0x02;
inline constexpr uint8_t kRst = 0x04;
inline constexpr uint8_t kAck = 0x10;
}  // namespace tcp_flag

inline constexpr uint8_t kProtocolTcp = 6;
inline constexpr uint8_t kProtocolUdp = 17;

// Decodes what there is of `frame`'s headers; fields of layers that are not
// there (or not all captured) stay at their defaults.
TransportHeaders DecodeTransportHeaders(std::span<const uint8_t> frame);

}  // namespace netvane
