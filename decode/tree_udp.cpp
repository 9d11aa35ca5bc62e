#include <array>

#include "decode/formatters.h"
#include "decode/tree_sections.h"

namespace netvane::tree {
namespace {
// For a header at byte 34; ShiftToTransport moves them with the header.
constexpr std::array<HighlightRange, 4> kRanges{{{102, 6}, {108, 6}, {114, 6}, {120, 6}}};
}  // namespace

std::span<const HighlightRange> UdpRanges() {
  return kRanges;
}

Section BuildUdp(const ByteReader& r, std::size_t at) {
  Section s{SectionKind::Udp, "UDP Header", {}};
  s.lines.reserve(kRanges.size());
  AddLine(s, "Source Port - ", Decimal(r.U16(at)), ShiftToTransport(kRanges[0], at));
  AddLine(s, "Destination Port - ", Decimal(r.U16(at + 2)), ShiftToTransport(kRanges[1], at));
  AddLine(s, "Length - ", Decimal(r.U16(at + 4)), ShiftToTransport(kRanges[2], at));
  AddLine(s, "Checksum - 0x", HexRun(r.Slice(at + 6, 2)), ShiftToTransport(kRanges[3], at));
  return s;
}

}  // namespace netvane::tree
