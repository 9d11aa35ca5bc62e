#include "app/filter_primitive.h"

#include <cstdio>

#include "decode/dumps.h"

namespace netvane {
namespace {

constexpr int kLongestLength = 1500;

enum class Value { Mac, Hex16, Dotted, Decimal };

// A field with a primitive: where it lies in its section's header, and the
// words before its value.
struct Primitive {
  SectionKind kind;
  uint32_t offset;
  uint32_t size;
  const char* words;
  Value value;
};

constexpr Primitive kPrimitives[] = {
    {SectionKind::Ethernet, 0, 6, "ether dst ", Value::Mac},
    {SectionKind::Ethernet, 6, 6, "ether src ", Value::Mac},
    {SectionKind::Ethernet, 12, 2, "ether proto ", Value::Hex16},
    {SectionKind::Ip, 9, 1, "ip proto ", Value::Decimal},
    {SectionKind::Ip, 12, 4, "ip src ", Value::Dotted},
    {SectionKind::Ip, 16, 4, "ip dst ", Value::Dotted},
    {SectionKind::Udp, 0, 2, "udp src port ", Value::Decimal},
    {SectionKind::Udp, 2, 2, "udp dst port ", Value::Decimal},
    {SectionKind::Tcp, 0, 2, "tcp src port ", Value::Decimal},
    {SectionKind::Tcp, 2, 2, "tcp dst port ", Value::Decimal},
};

std::string ValueText(Value kind, std::span<const uint8_t> bytes) {
  char text[24];
  switch (kind) {
    case Value::Mac:
      std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", bytes[0], bytes[1], bytes[2],
                    bytes[3], bytes[4], bytes[5]);
      break;
    case Value::Hex16:
      std::snprintf(text, sizeof text, "0x%02X%02X", bytes[0], bytes[1]);
      break;
    case Value::Dotted:
      std::snprintf(text, sizeof text, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
      break;
    case Value::Decimal: {
      unsigned v = 0;
      for (const uint8_t b : bytes) v = v << 8 | b;
      std::snprintf(text, sizeof text, "%u", v);
      break;
    }
  }
  return text;
}

}  // namespace

std::string FilterPrimitive(const Section& section, std::size_t line, std::span<const uint8_t> frame) {
  if (line >= section.lines.size() || section.lines.empty()) return {};
  const HighlightRange range = section.lines[line].range;
  // Lines that colour part of a byte (flags, header length, version) have no whole bytes of their own.
  if (range.count == 0 || range.count % kHexDumpCharsPerByte != 0 || range.start % kHexDumpCharsPerByte != 0)
    return {};
  // A section's first line starts at its header's first byte.
  const uint32_t header = section.lines.front().range.start / kHexDumpCharsPerByte;
  const uint32_t at = range.start / kHexDumpCharsPerByte;
  const uint32_t size = range.count / kHexDumpCharsPerByte;
  if (at < header || uint64_t{at} + size > frame.size()) return {};
  for (const Primitive& p : kPrimitives) {
    if (p.kind != section.kind || p.offset != at - header || p.size != size) continue;
    // A value up to 1500 there is an 802.3 length, which "ether proto" would
    // take for an LLC service access point.
    if (p.value == Value::Hex16 && (frame[at] << 8 | frame[at + 1]) <= kLongestLength) return {};
    return p.words + ValueText(p.value, frame.subspan(at, size));
  }
  return {};
}

}  // namespace netvane
