#include "decode/protocol_tree.h"

#include <bit>

#include "decode/byte_reader.h"
#include "decode/dumps.h"
#include "decode/formatters.h"
#include "decode/names.h"
#include "decode/tree_fields.h"

namespace netvane {
namespace {

using tree::Field;
using tree::Format;
using tree::Layout;
using tree::Mark;

// Room reserved for a value: a hardware address, or a protocol number and its name.
constexpr std::size_t kLongestValue = 24;

// The numeric value of a field: its bytes big-endian, masked, moved down.
uint32_t ValueOf(const Field& f, std::span<const uint8_t> bytes) {
  uint32_t raw = 0;
  for (uint8_t b : bytes) raw = raw << 8 | b;
  if (f.mask == 0) return raw;
  return (raw & f.mask) >> std::countr_zero(f.mask);
}

// Writes the field's value behind its label; most lines need no allocation
// but the line's own.
void AppendValue(std::string& out, const Field& f, std::span<const uint8_t> bytes) {
  switch (f.format) {
    case Format::ColonHex:
      AppendColonHex(out, bytes, ':');
      return;
    case Format::DottedDecimal:
      AppendDottedDecimal(out, bytes, '.');
      return;
    case Format::Decimal:
      AppendDecimal(out, ValueOf(f, bytes));
      return;
    case Format::Flag:
      out += FlagText(ValueOf(f, bytes), ~0u);
      return;
    case Format::Hex:
      if (f.mask == 0)
        AppendHexRun(out, bytes);
      else
        out += HexDigits(ValueOf(f, bytes), (std::popcount(f.mask) + 3) / 4);
      return;
    case Format::IpProtocol: {
      const auto protocol = static_cast<uint8_t>(ValueOf(f, bytes));
      AppendDecimal(out, protocol);
      out += " : ";
      out += IpProtocolName(protocol);
      return;
    }
  }
}

// The hex-dump characters of a field whose header starts at frame byte `at`.
HighlightRange RangeOf(const Field& f, std::size_t at) {
  const auto first = static_cast<uint32_t>((at + f.offset) * kHexDumpCharsPerByte);
  switch (f.mark) {
    case Mark::HighDigit:
      return {first, 1};
    case Mark::LowDigit:
      return {first + 1, 2};
    case Mark::Bytes:
      break;
  }
  return {first, static_cast<uint32_t>(f.size * kHexDumpCharsPerByte)};
}

uint32_t ValueAt(const Field& f, const ByteReader& r, std::size_t at) {
  return ValueOf(f, r.Slice(at + f.offset, f.size));
}

// The section of `layout` for its header at frame byte `at`; the caller has
// checked that the header is complete.
Section BuildSection(const Layout& layout, const ByteReader& r, std::size_t at) {
  Section s{layout.kind, std::string(layout.title), {}};
  s.lines.reserve(layout.fields.size());
  for (const Field& f : layout.fields) {
    std::string text;
    text.reserve(f.label.size() + kLongestValue);
    text += f.label;
    AppendValue(text, f, r.Slice(at + f.offset, f.size));
    s.lines.push_back(FieldLine{std::move(text), RangeOf(f, at)});
  }
  return s;
}

// Where the transport header starts, or 0 when there is none to decode: a
// header length below 5 leaves no room for a header at all, and a non-first
// fragment carries payload, not a transport header, at that place.
std::size_t TransportOffset(const ByteReader& r, std::size_t ipAt) {
  const std::size_t headerWords = ValueAt(tree::kIpHeaderLength, r, ipAt);
  if (headerWords < 5 || ValueAt(tree::kIpFragmentOffset, r, ipAt) != 0) return 0;
  return ipAt + 4 * headerWords;
}

}  // namespace

ProtocolTree BuildProtocolTree(std::span<const uint8_t> frame) {
  ProtocolTree result;
  ByteReader r(frame);
  if (!r.Has(0, tree::kEthernet.size())) return result;

  result.sections.reserve(3);
  result.sections.push_back(BuildSection(tree::kEthernet, r, 0));
  result.etherType = static_cast<uint16_t>(ValueAt(tree::kEtherType, r, 0));

  // The second header follows the Ethernet header at once.
  const std::size_t at = tree::kEthernet.size();
  if (result.etherType == kEtherTypeArp) {
    if (r.Has(at, tree::kArp.size())) result.sections.push_back(BuildSection(tree::kArp, r, at));
    return result;
  }
  if (result.etherType != kEtherTypeIp || !r.Has(at, tree::kIp.size())) return result;

  result.sections.push_back(BuildSection(tree::kIp, r, at));
  result.ipProtocol = static_cast<uint8_t>(ValueAt(tree::kIpProtocol, r, at));
  const std::size_t transportAt = TransportOffset(r, at);
  if (transportAt == 0) return result;
  if (result.ipProtocol == kIpProtocolUdp && r.Has(transportAt, tree::kUdp.size())) {
    result.sections.push_back(BuildSection(tree::kUdp, r, transportAt));
  } else if (result.ipProtocol == kIpProtocolTcp && r.Has(transportAt, tree::kTcp.size())) {
    result.sections.push_back(BuildSection(tree::kTcp, r, transportAt));
  }
  return result;
}

std::string_view SectionTitle(SectionKind kind) {
  for (const tree::Layout* layout : {&tree::kEthernet, &tree::kIp, &tree::kArp, &tree::kUdp, &tree::kTcp})
    if (layout->kind == kind) return layout->title;
  return {};
}

}  // namespace netvane
