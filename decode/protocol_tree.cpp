#include "decode/protocol_tree.h"

#include "decode/names.h"
#include "decode/tree_sections.h"

namespace netvane {
namespace tree {

void AddLine(Section& section, std::string_view prefix, std::string_view value, HighlightRange range) {
  std::string text;
  text.reserve(prefix.size() + value.size());
  text += prefix;
  text += value;
  section.lines.push_back(FieldLine{std::move(text), range});
}

HighlightRange ShiftToTransport(HighlightRange range, std::size_t offset) {
  range.start += static_cast<uint32_t>((offset - kIpEnd) * kCharsPerByte);
  return range;
}

}  // namespace tree

namespace {

// Where the transport header starts, or 0 when there is none to decode: a
// header length below 5 leaves no room for a header at all, and a non-first
// fragment carries payload, not a transport header, at that place.
std::size_t TransportOffset(const ByteReader& r) {
  const std::size_t headerWords = r.U8(14) & 0x0F;
  const uint16_t fragmentOffset = r.U16(20) & 0x1FFF;
  if (headerWords < 5 || fragmentOffset != 0) return 0;
  return tree::kEthernetBytes + 4 * headerWords;
}

}  // namespace

ProtocolTree BuildProtocolTree(std::span<const uint8_t> frame) {
  using namespace tree;
  ProtocolTree result;
  ByteReader r(frame);
  if (!r.Has(0, kEthernetBytes)) return result;

  result.sections.reserve(3);
  result.sections.push_back(BuildEthernet(r));
  result.etherType = r.U16(12);

  if (result.etherType == kEtherTypeArp) {
    if (r.Has(0, kArpEnd)) result.sections.push_back(BuildArp(r));
    return result;
  }
  if (result.etherType != kEtherTypeIp || !r.Has(0, kIpEnd)) return result;

  result.sections.push_back(BuildIp(r));
  result.ipProtocol = r.U8(23);
  const std::size_t at = TransportOffset(r);
  if (at == 0) return result;
  if (result.ipProtocol == kIpProtocolUdp && r.Has(at, kUdpBytes)) {
    result.sections.push_back(BuildUdp(r, at));
  } else if (result.ipProtocol == kIpProtocolTcp && r.Has(at, kTcpBytes)) {
    result.sections.push_back(BuildTcp(r, at));
  }
  return result;
}

}  // namespace netvane
