#include <array>

#include "decode/formatters.h"
#include "decode/tree_sections.h"

namespace netvane::tree {
namespace {
// Ethernet/IPv4 layout: 6-byte hardware and 4-byte protocol addresses,
// whatever the two length fields say.
constexpr std::array<HighlightRange, 9> kRanges{
    {{42, 6}, {48, 6}, {54, 3}, {57, 3}, {60, 6}, {66, 18}, {84, 12}, {96, 18}, {114, 12}}};
}  // namespace

std::span<const HighlightRange> ArpRanges() {
  return kRanges;
}

Section BuildArp(const ByteReader& r) {
  Section s{SectionKind::Arp, "Address Resolution Protocol", {}};
  s.lines.reserve(kRanges.size());
  AddLine(s, "Hardware Address Type - ", Decimal(r.U16(14)), kRanges[0]);
  AddLine(s, "Protocol Address Type - ", Decimal(r.U16(16)), kRanges[1]);
  AddLine(s, "Hardware Address Length - ", Decimal(r.U8(18)), kRanges[2]);
  AddLine(s, "Protocol Address Length - ", Decimal(r.U8(19)), kRanges[3]);
  AddLine(s, "Operation - ", Decimal(r.U16(20)), kRanges[4]);
  AddLine(s, "Source Hardware Address - ", ColonHex(r.Slice(22, 6), ':'), kRanges[5]);
  AddLine(s, "Source Protocol Address - ", DottedDecimal(r.Slice(28, 4), '.'), kRanges[6]);
  AddLine(s, "Target Hardware Address - ", ColonHex(r.Slice(32, 6), ':'), kRanges[7]);
  AddLine(s, "Target Protocol Address - ", DottedDecimal(r.Slice(38, 4), '.'), kRanges[8]);
  return s;
}

}  // namespace netvane::tree
