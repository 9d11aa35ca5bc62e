#pragma once
// The sections of the protocol tree as data: each field line is described
// once, by its label, the bytes it reads, how its value is written and which
// hex-dump characters it colours, and the tree, its line texts and its
// highlight ranges are all built from that one description. Internal to decode/.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "decode/protocol_tree.h"

namespace netvane::tree {

// How a field's value follows its label.
enum class Format : uint8_t {
  Decimal,        // without leading zeros
  Hex,            // uppercase, one digit for every four bits of the value
  Flag,           // "1" when the value is not 0, else "0"
  ColonHex,       // the bytes as 00:0C:29:1A:2B:3C
  DottedDecimal,  // the bytes as 10.0.0.1
  IpProtocol,     // decimal, " : ", then the protocol's name
};

// The hex-dump characters a field colours. They are those of its bytes, except
// where the layout gives the fields that share a byte a part of it.
enum class Mark : uint8_t {
  Bytes,      // every character of the field's bytes
  HighDigit,  // the first hex digit of its first byte alone
  LowDigit,   // the second hex digit of its first byte and the blank behind it
};

struct Field {
  std::string_view label;  // the line's text before the value
  uint8_t offset;          // of the field's first byte, from the start of its header
  uint8_t size;            // in bytes; Decimal, Hex and Flag read up to 4, big-endian
  Format format;
  uint32_t mask = 0;  // the bits that make the value, moved down to bit 0; 0 for all
  Mark mark = Mark::Bytes;
};

struct Layout {
  SectionKind kind;
  std::string_view title;
  std::span<const Field> fields;

  // The bytes the section reads: up to the end of its furthest field.
  constexpr std::size_t size() const {
    std::size_t end = 0;
    for (const Field& f : fields) end = end > f.offset + f.size ? end : f.offset + f.size;
    return end;
  }
};

// The fields that also decide which sections follow, or that the packet
// list's row shows.
inline constexpr Field kDestinationCard{"Destination Address - ", 0, 6, Format::ColonHex};
inline constexpr Field kSourceCard{"Source Address - ", 6, 6, Format::ColonHex};
inline constexpr Field kEtherType{"Protocol - 0x", 12, 2, Format::Hex};
inline constexpr Field kIpHeaderLength{"Header Length - 0x", 0, 1, Format::Hex, 0x0F, Mark::LowDigit};
inline constexpr Field kIpFragmentOffset{"Fragment Offset - ", 6, 2, Format::Decimal, 0x1FFF};
inline constexpr Field kIpProtocol{"Protocol - ", 9, 1, Format::IpProtocol};
inline constexpr Field kIpSource{"Source Address - ", 12, 4, Format::DottedDecimal};
inline constexpr Field kIpDestination{"Destination Address - ", 16, 4, Format::DottedDecimal};
inline constexpr Field kArpSourceIp{"Source Protocol Address - ", 14, 4, Format::DottedDecimal};
inline constexpr Field kArpTargetIp{"Target Protocol Address - ", 24, 4, Format::DottedDecimal};

inline constexpr Field kEthernetFields[] = {
    kDestinationCard,
    kSourceCard,
    kEtherType,
};

// The IPv4 header without its options, which are not shown.
inline constexpr Field kIpFields[] = {
    {"Version - 0x", 0, 1, Format::Hex, 0xF0, Mark::HighDigit},
    kIpHeaderLength,
    {"Type of Service - ", 1, 1, Format::Decimal},
    {"Length - ", 2, 2, Format::Decimal},
    {"Identification - ", 4, 2, Format::Decimal},
    {"Flag : Don't Fragment - ", 6, 2, Format::Flag, 0x4000, Mark::HighDigit},
    {"Flag : More Fragments - ", 6, 2, Format::Flag, 0x2000, Mark::HighDigit},
    kIpFragmentOffset,
    {"TTL - ", 8, 1, Format::Decimal},
    kIpProtocol,
    {"Header Checksum - ", 10, 2, Format::Decimal},  // decimal, unlike the UDP and TCP checksums
    kIpSource,
    kIpDestination,
};

// Ethernet/IPv4 ARP: 6-byte hardware and 4-byte protocol addresses, whatever
// the two length fields say.
inline constexpr Field kArpFields[] = {
    {"Hardware Address Type - ", 0, 2, Format::Decimal},
    {"Protocol Address Type - ", 2, 2, Format::Decimal},
    {"Hardware Address Length - ", 4, 1, Format::Decimal},
    {"Protocol Address Length - ", 5, 1, Format::Decimal},
    {"Operation - ", 6, 2, Format::Decimal},
    {"Source Hardware Address - ", 8, 6, Format::ColonHex},
    kArpSourceIp,
    {"Target Hardware Address - ", 18, 6, Format::ColonHex},
    kArpTargetIp,
};

inline constexpr Field kUdpFields[] = {
    {"Source Port - ", 0, 2, Format::Decimal},
    {"Destination Port - ", 2, 2, Format::Decimal},
    {"Length - ", 4, 2, Format::Decimal},
    {"Checksum - 0x", 6, 2, Format::Hex},
};

// Every flag colours the whole flags byte; its two top bits are not shown.
inline constexpr Field kTcpFields[] = {
    {"Source Port - ", 0, 2, Format::Decimal},
    {"Destination Port - ", 2, 2, Format::Decimal},
    {"Sequence Number - 0x", 4, 4, Format::Hex},
    {"Acknowledgment Number - 0x", 8, 4, Format::Hex},
    {"Offset - ", 12, 1, Format::Decimal, 0xF0, Mark::HighDigit},  // header length in 32-bit words
    {"Flag : Urgent Pointer - ", 13, 1, Format::Flag, 0x20},
    {"Flag : ACK - ", 13, 1, Format::Flag, 0x10},
    {"Flag : PUSH - ", 13, 1, Format::Flag, 0x08},
    {"Flag : RESET - ", 13, 1, Format::Flag, 0x04},
    {"Flag : SYN - ", 13, 1, Format::Flag, 0x02},
    {"Flag : FINISH - ", 13, 1, Format::Flag, 0x01},
    {"Window Size - ", 14, 2, Format::Decimal},
    {"Checksum - 0x", 16, 2, Format::Hex},
    {"Urgent Pointer - ", 18, 2, Format::Decimal},
};

inline constexpr Layout kEthernet{SectionKind::Ethernet, "Ethernet Header", kEthernetFields};
inline constexpr Layout kIp{SectionKind::Ip, "IP Header", kIpFields};
inline constexpr Layout kArp{SectionKind::Arp, "Address Resolution Protocol", kArpFields};
inline constexpr Layout kUdp{SectionKind::Udp, "UDP Header", kUdpFields};
inline constexpr Layout kTcp{SectionKind::Tcp, "TCP Header", kTcpFields};

}  // namespace netvane::tree
