#include "decode/packet_row.h"

#include "decode/byte_reader.h"
#include "decode/formatters.h"
#include "decode/names.h"

namespace netvane {

const std::array<const char*, kColumnCount> kColumnHeaders{"Packet Nr", "Source Card",    "Destination Card",
                                                           "Source IP", "Destination IP", "Protocol"};

namespace {

// The row reads fixed offsets: a 14-byte Ethernet header and, for IP, a
// 20-byte IPv4 header; the header-length field is not consulted here.
constexpr std::size_t kDestinationMac = 0;
constexpr std::size_t kSourceMac = 6;
constexpr std::size_t kEtherType = 12;
constexpr std::size_t kIpProtocol = 23;
constexpr std::size_t kIpSource = 26;
constexpr std::size_t kIpDestination = 30;
constexpr std::size_t kArpSenderIp = 28;
constexpr std::size_t kArpTargetIp = 38;

void AppendMac(std::string& out, const ByteReader& r, std::size_t offset) {
  AppendColonHex(out, r.Slice(offset, 6), ':');
}

void AppendIp(std::string& out, const ByteReader& r, std::size_t offset) {
  AppendDottedDecimal(out, r.Slice(offset, 4), '.');
}

void AppendIpColumn(std::string& out, const ByteReader& r, bool source) {
  if (!r.Has(kEtherType, 2)) return;
  switch (r.U16(kEtherType)) {
    case kEtherTypeIp:
      AppendIp(out, r, source ? kIpSource : kIpDestination);
      break;
    case kEtherTypeArp:
      AppendIp(out, r, source ? kArpSenderIp : kArpTargetIp);
      break;
    default:
      break;
  }
}

void AppendProtocol(std::string& out, const ByteReader& r) {
  if (!r.Has(kEtherType, 2)) return;
  uint16_t type = r.U16(kEtherType);
  out += EtherTypeName(type);
  if (type == kEtherTypeIp) {
    if (r.Has(kIpProtocol, 1)) out += IpProtocolName(r.U8(kIpProtocol));
  } else if (type == kEtherTypeArp) {
    out.push_back(' ');
  }
}

}  // namespace

void AppendRowCell(std::string& out, std::span<const uint8_t> frame, uint32_t number, int column) {
  ByteReader r(frame);
  switch (column) {
    case kNumber:
      AppendDecimal(out, number);
      break;
    case kSourceCard:
      AppendMac(out, r, kSourceMac);
      break;
    case kDestinationCard:
      AppendMac(out, r, kDestinationMac);
      break;
    case kSourceIp:
      AppendIpColumn(out, r, true);
      break;
    case kDestinationIp:
      AppendIpColumn(out, r, false);
      break;
    case kProtocol:
      AppendProtocol(out, r);
      break;
    default:
      break;
  }
}

void AppendPacketRow(std::string& out, std::span<const uint8_t> frame, uint32_t number, char separator) {
  for (int column = 0; column < kColumnCount; ++column) {
    if (column != 0) out.push_back(separator);
    AppendRowCell(out, frame, number, column);
  }
}

std::string RowCell(std::span<const uint8_t> frame, uint32_t number, int column) {
  std::string out;
  AppendRowCell(out, frame, number, column);
  return out;
}

std::array<std::string, kColumnCount> PacketRow(std::span<const uint8_t> frame, uint32_t number) {
  std::array<std::string, kColumnCount> row;
  for (int column = 0; column < kColumnCount; ++column) AppendRowCell(row[column], frame, number, column);
  return row;
}

bool IsBroadcast(std::span<const uint8_t> frame) {
  ByteReader r(frame);
  if (!r.Has(0, 6)) return false;
  for (std::size_t i = 0; i < 6; ++i)
    if (r.U8(i) != 0xFF) return false;
  return true;
}

}  // namespace netvane
