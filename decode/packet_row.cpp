#include "decode/packet_row.h"

#include "decode/byte_reader.h"
#include "decode/formatters.h"
#include "decode/names.h"
#include "decode/tree_fields.h"

namespace netvane {

const std::array<const char*, kColumnCount> kColumnHeaders{"Packet Nr", "Source Card",    "Destination Card",
                                                           "Source IP", "Destination IP", "Protocol"};

namespace {

// The row reads the tree's fields at fixed places: a 14-byte Ethernet header
// and, for IP, a 20-byte IPv4 header; the header-length field is not consulted here.
constexpr std::size_t kNetworkAt = tree::kEthernet.size();

constexpr std::size_t At(const tree::Field& field, std::size_t header = 0) {
  return header + field.offset;
}

std::span<const uint8_t> FieldBytes(const ByteReader& r, const tree::Field& field, std::size_t header = 0) {
  return r.Slice(At(field, header), field.size);
}

// IP: the IPv4 header's addresses; ARP: the sender's and target's protocol addresses.
std::span<const uint8_t> IpBytes(const ByteReader& r, bool source) {
  if (!r.Has(At(tree::kEtherType), 2)) return {};
  switch (r.U16(At(tree::kEtherType))) {
    case kEtherTypeIp:
      return FieldBytes(r, source ? tree::kIpSource : tree::kIpDestination, kNetworkAt);
    case kEtherTypeArp:
      return FieldBytes(r, source ? tree::kArpSourceIp : tree::kArpTargetIp, kNetworkAt);
    default:
      return {};
  }
}

void AppendProtocol(std::string& out, const ByteReader& r) {
  if (!r.Has(At(tree::kEtherType), 2)) return;
  uint16_t type = r.U16(At(tree::kEtherType));
  out += EtherTypeName(type);
  if (type == kEtherTypeIp) {
    constexpr std::size_t protocolAt = At(tree::kIpProtocol, kNetworkAt);
    if (r.Has(protocolAt, 1)) out += IpProtocolName(r.U8(protocolAt));
  } else if (type == kEtherTypeArp) {
    out.push_back(' ');
  }
}

}  // namespace

std::span<const uint8_t> AddressCellBytes(std::span<const uint8_t> frame, int column) {
  const ByteReader r(frame);
  switch (column) {
    case kSourceCard:
      return FieldBytes(r, tree::kSourceCard);
    case kDestinationCard:
      return FieldBytes(r, tree::kDestinationCard);
    case kSourceIp:
      return IpBytes(r, true);
    case kDestinationIp:
      return IpBytes(r, false);
    default:
      return {};
  }
}

void AppendRowCell(std::string& out, std::span<const uint8_t> frame, uint32_t number, int column) {
  switch (column) {
    case kNumber:
      AppendDecimal(out, number);
      break;
    case kSourceCard:
    case kDestinationCard:
      AppendColonHex(out, AddressCellBytes(frame, column), ':');
      break;
    case kSourceIp:
    case kDestinationIp:
      AppendDottedDecimal(out, AddressCellBytes(frame, column), '.');
      break;
    case kProtocol:
      AppendProtocol(out, ByteReader(frame));
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
