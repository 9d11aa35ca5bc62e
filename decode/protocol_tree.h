#pragma once
// The protocol tree of a frame as data: section nodes, field lines and the
// hex-dump character range that each line colours. The range travels with its
// line: a click on a line colours the range built with it, so the window and
// netvane-dump's -V output cannot disagree about where a field lies.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
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
};

// Sections whose fixed header does not fit in the frame are left out (a frame
// under 14 bytes has none at all, IP needs 34 bytes, ARP 42, UDP 8 and TCP 20
// bytes behind the IP header), so every line's range lies inside the hex dump.
// The transport header is read where the IP header length puts it; a
// non-first fragment or a header length below 5 has no transport section.
ProtocolTree BuildProtocolTree(std::span<const uint8_t> frame);

// The title of a section's node ("Ethernet Header", ...).
std::string_view SectionTitle(SectionKind kind);

}  // namespace netvane
