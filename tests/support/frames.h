#pragma once
// Crafted frames, built field by field, and capture-file images of them: one
// builder for the decode, view and window tests, the golden files and the benchmarks.

#include <cstdint>
#include <string>
#include <vector>

namespace netvane::testing {

using Bytes = std::vector<uint8_t>;

struct Mac {
  uint8_t b[6];
};
struct Ip4 {
  uint8_t b[4];
};

inline constexpr Mac kBroadcast{{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}};
inline constexpr Mac kHostA{{0x00, 0x0C, 0x29, 0x1A, 0x2B, 0x3C}};
inline constexpr Mac kHostB{{0x52, 0x54, 0x00, 0xAB, 0xCD, 0xEF}};

// `n` filler bytes (a, b, c, ...).
void AppendPayload(Bytes& frame, std::size_t n);

Bytes Ethernet(Mac destination, Mac source, uint16_t etherType);

struct Ip4Header {
  uint8_t headerWords = 5;  // low nibble of byte 14; options are zero-filled to fit
  uint8_t tos = 0;
  uint16_t id = 0x1234;
  uint16_t flags = 0x4000;  // flags and fragment offset
  uint8_t ttl = 64;
  uint8_t protocol = 6;
  Ip4 source{{10, 0, 0, 1}};
  Ip4 destination{{192, 168, 100, 254}};
  uint8_t version = 4;
};

// Appends an IPv4 header whose total length covers `payloadBytes` more bytes,
// with a correct header checksum.
void AppendIp4(Bytes& frame, const Ip4Header& ip, std::size_t payloadBytes);

struct TcpHeader {
  uint16_t sourcePort = 49152;
  uint16_t destinationPort = 80;
  uint32_t sequence = 0x0012ABCD;
  uint32_t acknowledgment = 0;
  uint8_t offsetByte = 0x50;
  uint8_t flags = 0x02;
  uint16_t window = 64240;
  uint16_t checksum = 0xBEEF;
  uint16_t urgent = 0;
};
void AppendTcp(Bytes& frame, const TcpHeader& tcp);
void AppendUdp(Bytes& frame, uint16_t sourcePort, uint16_t destinationPort, uint16_t length,
               uint16_t checksum);

// Whole frames.
// A 60-byte frame of the given EtherType from kHostA to kHostB, `fill` after the header.
Bytes PaddedEthernet(uint16_t etherType, uint8_t fill = 0);
// A 60-byte IPv4 frame (default header, `protocol`) whose header says 26 bytes follow.
Bytes PaddedIp4(uint8_t protocol);
Bytes TcpFrame(const Ip4Header& ip, const TcpHeader& tcp, std::size_t payloadBytes = 0);
Bytes UdpFrame(const Ip4Header& ip, uint16_t sourcePort, uint16_t destinationPort, std::size_t payloadBytes);
Bytes ArpFrame(Mac destination, Mac sender, uint16_t operation, Ip4 senderIp, Mac target, Ip4 targetIp);

// pcap (microsecond, Ethernet unless `linkType` says otherwise) and pcapng images.
Bytes PcapImage(const std::vector<Bytes>& frames, uint32_t linkType = 1);
Bytes PcapngImage(const std::vector<Bytes>& frames);

// A pcap record with its own time stamp and wire length (0: the frame's length).
struct PcapRecord {
  Bytes frame;
  uint32_t seconds = 0;
  uint32_t fraction = 0;  // microseconds, or nanoseconds in a nanosecond file
  uint32_t wireLength = 0;
};
// An Ethernet pcap image of the records, with micro- or nanosecond time stamps.
Bytes PcapImage(const std::vector<PcapRecord>& records, bool nanoseconds);

}  // namespace netvane::testing
