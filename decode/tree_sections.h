#pragma once
// Builders of the tree's sections and their highlight-range tables. Internal to decode/.

#include <span>

#include "decode/byte_reader.h"
#include "decode/protocol_tree.h"

namespace netvane::tree {

// Frame offsets of the fixed-offset headers.
inline constexpr std::size_t kEthernetBytes = 14;
inline constexpr std::size_t kIpEnd = 34;   // 14 + a 20-byte IPv4 header
inline constexpr std::size_t kArpEnd = 42;  // 14 + 28 bytes of Ethernet/IPv4 ARP
inline constexpr std::size_t kUdpBytes = 8;
inline constexpr std::size_t kTcpBytes = 20;
// Hex-dump characters per frame byte ("XX ").
inline constexpr uint32_t kCharsPerByte = 3;

// Ranges for a transport header at byte 34; a header elsewhere shifts them.
std::span<const HighlightRange> EthernetRanges();
std::span<const HighlightRange> IpRanges();
std::span<const HighlightRange> ArpRanges();
std::span<const HighlightRange> UdpRanges();
std::span<const HighlightRange> TcpRanges();

// Each builder expects the caller to have checked that its header is complete.
Section BuildEthernet(const ByteReader& r);
Section BuildIp(const ByteReader& r);
Section BuildArp(const ByteReader& r);
Section BuildUdp(const ByteReader& r, std::size_t offset);
Section BuildTcp(const ByteReader& r, std::size_t offset);

// Appends a field line "<prefix><value>" with the given range.
void AddLine(Section& section, std::string_view prefix, std::string_view value, HighlightRange range);

// `range` moved to a transport header at `offset` instead of byte 34.
HighlightRange ShiftToTransport(HighlightRange range, std::size_t offset);

}  // namespace netvane::tree
