#pragma once
// The protocol tree of a frame as data: section nodes, field lines and the
// hex-dump character range that each line colours.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace netvane {

// Characters [start, start + count) of the hex dump text.
struct HighlightRange {
  uint32_t start = 0;
  uint32_t count = 0;
  friend bool operator==(const HighlightRange&, const HighlightRange&) = default;
};

enum class SectionKind { Ethernet, Ip, Arp, Udp, Tcp };

struct FieldLine {
  std::string text;
  HighlightRange range;  // always inside the hex dump of the frame
};

struct Section {
  SectionKind kind;
  std::string title;  // "Ethernet Header", "IP Header", ...
  std::vector<FieldLine> lines;
};

struct ProtocolTree {
  std::vector<Section> sections;  // at most three, in order
  uint16_t etherType = 0;         // shown frame's EtherType (0 when unknown)
  uint8_t ipProtocol = 0;         // IP protocol of an IP frame, else 0
  uint32_t transportOffset = 34;  // byte where the UDP/TCP header starts (14 + 4 x header length)
};

// Sections whose fixed header does not fit in the frame are left out (a frame
// under 14 bytes has none at all, IP needs 34 bytes, ARP 42, UDP 8 and TCP 20
// bytes behind the IP header), so every line's range lies inside the hex dump.
// The transport header is read where the IP header length puts it; a
// non-first fragment or a header length below 5 has no transport section.
ProtocolTree BuildProtocolTree(std::span<const uint8_t> frame);

// The click rule: which range a field line uses, given the section position
// (0 Ethernet, 1 second section, 2 third section), the line index and the shown
// frame's EtherType and IP protocol. transportOffset is the transport header's
// byte offset (14 + 4 x IP header length). No range: nullopt.
std::optional<HighlightRange> ClickRange(int sectionPosition, int line, uint16_t etherType,
                                         uint8_t ipProtocol, uint32_t transportOffset = 34);

}  // namespace netvane
