#include <array>

#include "decode/formatters.h"
#include "decode/tree_sections.h"

namespace netvane::tree {
namespace {
// For a header at byte 34; ShiftToTransport moves them with the header.
// Every flag colours the whole flags byte.
constexpr std::array<HighlightRange, 14> kRanges{{{102, 6},
                                                  {108, 6},
                                                  {114, 12},
                                                  {126, 12},
                                                  {138, 1},
                                                  {141, 3},
                                                  {141, 3},
                                                  {141, 3},
                                                  {141, 3},
                                                  {141, 3},
                                                  {141, 3},
                                                  {144, 6},
                                                  {150, 6},
                                                  {156, 6}}};

struct Flag {
  std::string_view prefix;
  uint8_t mask;
};
// The two top bits of the flags byte are not shown.
constexpr std::array<Flag, 6> kFlags{{{"Flag : Urgent Pointer - ", 0x20},
                                      {"Flag : ACK - ", 0x10},
                                      {"Flag : PUSH - ", 0x08},
                                      {"Flag : RESET - ", 0x04},
                                      {"Flag : SYN - ", 0x02},
                                      {"Flag : FINISH - ", 0x01}}};
}  // namespace

std::span<const HighlightRange> TcpRanges() {
  return kRanges;
}

Section BuildTcp(const ByteReader& r, std::size_t at) {
  Section s{SectionKind::Tcp, "TCP Header", {}};
  s.lines.reserve(kRanges.size());
  auto range = [&](std::size_t line) { return ShiftToTransport(kRanges[line], at); };
  AddLine(s, "Source Port - ", Decimal(r.U16(at)), range(0));
  AddLine(s, "Destination Port - ", Decimal(r.U16(at + 2)), range(1));
  AddLine(s, "Sequence Number - 0x", HexRun(r.Slice(at + 4, 4)), range(2));
  AddLine(s, "Acknowledgment Number - 0x", HexRun(r.Slice(at + 8, 4)), range(3));
  AddLine(s, "Offset - ", Decimal(r.U8(at + 12) >> 4), range(4));
  const uint8_t flags = r.U8(at + 13);
  for (std::size_t i = 0; i < kFlags.size(); ++i)
    AddLine(s, kFlags[i].prefix, FlagText(flags, kFlags[i].mask), range(5 + i));
  AddLine(s, "Window Size - ", Decimal(r.U16(at + 14)), range(11));
  AddLine(s, "Checksum - 0x", HexRun(r.Slice(at + 16, 2)), range(12));
  AddLine(s, "Urgent Pointer - ", Decimal(r.U16(at + 18)), range(13));
  return s;
}

}  // namespace netvane::tree
