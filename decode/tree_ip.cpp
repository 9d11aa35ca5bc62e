#include <array>

#include "decode/formatters.h"
#include "decode/names.h"
#include "decode/tree_sections.h"

namespace netvane::tree {
namespace {
// The IP section stays at fixed offsets (bytes 14-33) whatever the header
// length says; options, if any, are not shown.
constexpr std::array<HighlightRange, 13> kRanges{{{42, 1},
                                                  {43, 2},
                                                  {45, 3},
                                                  {48, 6},
                                                  {54, 6},
                                                  {60, 1},
                                                  {60, 1},
                                                  {60, 6},
                                                  {66, 3},
                                                  {69, 3},
                                                  {72, 6},
                                                  {78, 12},
                                                  {90, 12}}};
}  // namespace

std::span<const HighlightRange> IpRanges() {
  return kRanges;
}

Section BuildIp(const ByteReader& r) {
  Section s{SectionKind::Ip, "IP Header", {}};
  s.lines.reserve(kRanges.size());
  const uint8_t versionAndLength = r.U8(14);
  const uint16_t flags = r.U16(20);
  const uint8_t protocol = r.U8(23);
  std::string protocolText = Decimal(protocol);
  protocolText += " : ";
  protocolText += IpProtocolName(protocol);

  AddLine(s, "Version - 0x", HexDigits(versionAndLength >> 4, 1), kRanges[0]);
  AddLine(s, "Header Length - 0x", HexDigits(versionAndLength & 0x0F, 1), kRanges[1]);
  AddLine(s, "Type of Service - ", Decimal(r.U8(15)), kRanges[2]);
  AddLine(s, "Length - ", Decimal(r.U16(16)), kRanges[3]);
  AddLine(s, "Identification - ", Decimal(r.U16(18)), kRanges[4]);
  AddLine(s, "Flag : Don't Fragment - ", FlagText(flags, 0x4000), kRanges[5]);
  AddLine(s, "Flag : More Fragments - ", FlagText(flags, 0x2000), kRanges[6]);
  AddLine(s, "Fragment Offset - ", Decimal(flags & 0x1FFF), kRanges[7]);
  AddLine(s, "TTL - ", Decimal(r.U8(22)), kRanges[8]);
  AddLine(s, "Protocol - ", protocolText, kRanges[9]);
  AddLine(s, "Header Checksum - ", Decimal(r.U16(24)), kRanges[10]);
  AddLine(s, "Source Address - ", DottedDecimal(r.Slice(26, 4), '.'), kRanges[11]);
  AddLine(s, "Destination Address - ", DottedDecimal(r.Slice(30, 4), '.'), kRanges[12]);
  return s;
}

}  // namespace netvane::tree
