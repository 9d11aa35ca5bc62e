#include <array>

#include "decode/formatters.h"
#include "decode/tree_sections.h"

namespace netvane::tree {
namespace {
constexpr std::array<HighlightRange, 3> kRanges{{{0, 18}, {18, 18}, {36, 6}}};
}  // namespace

std::span<const HighlightRange> EthernetRanges() {
  return kRanges;
}

Section BuildEthernet(const ByteReader& r) {
  Section s{SectionKind::Ethernet, "Ethernet Header", {}};
  s.lines.reserve(kRanges.size());
  AddLine(s, "Destination Address - ", ColonHex(r.Slice(0, 6), ':'), kRanges[0]);
  AddLine(s, "Source Address - ", ColonHex(r.Slice(6, 6), ':'), kRanges[1]);
  AddLine(s, "Protocol - 0x", HexRun(r.Slice(12, 2)), kRanges[2]);
  return s;
}

}  // namespace netvane::tree
