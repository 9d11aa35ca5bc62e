#include "decode/transport_headers.h"

#include <algorithm>

#include "decode/byte_reader.h"

namespace netvane {
namespace {

constexpr std::size_t kEthernetLength = 14;
constexpr uint16_t kTypeIpv4 = 0x0800;
constexpr uint16_t kTypeIpv6 = 0x86DD;
constexpr std::size_t kIpv6HeaderLength = 40;
// More extension headers than any real packet carries; the walk stops there.
constexpr int kMaxExtensionHeaders = 16;

void Copy(const ByteReader& r, std::size_t offset, std::size_t count, uint8_t* into) {
  const std::span<const uint8_t> bytes = r.Slice(offset, count);
  std::copy(bytes.begin(), bytes.end(), into);
}

// The transport header at `offset`, `length` bytes long by the IP header's
// count (from there to the end of the datagram).
void DecodeTransport(const ByteReader& r, std::size_t offset, std::size_t length, TransportHeaders& h) {
  if (h.protocol != kProtocolTcp && h.protocol != kProtocolUdp) return;
  if (!h.firstFragment || !r.Has(offset, 4)) return;
  h.hasPorts = true;
  h.srcPort = r.U16(offset);
  h.dstPort = r.U16(offset + 2);
  if (h.protocol != kProtocolTcp || h.fragment) return;
  const std::size_t headerLength = static_cast<std::size_t>(r.U8(offset + 12) >> 4) * 4;
  if (headerLength < 20 || !r.Has(offset, headerLength) || length < headerLength) return;
  h.tcp = true;
  h.seq = r.U32(offset + 4);
  h.ack = r.U32(offset + 8);
  h.tcpFlags = r.U8(offset + 13);
  h.payloadOffset = offset + headerLength;
  h.payloadLength = static_cast<uint32_t>(length - headerLength);
  h.capturedPayload =
      static_cast<uint32_t>(std::min<std::size_t>(h.payloadLength, r.size() - h.payloadOffset));
}

void DecodeIpv4(const ByteReader& r, TransportHeaders& h) {
  const std::size_t ip = kEthernetLength;
  if (!r.Has(ip, 20) || r.U8(ip) >> 4 != 4) return;
  const std::size_t headerLength = static_cast<std::size_t>(r.U8(ip) & 0x0F) * 4;
  const std::size_t totalLength = r.U16(ip + 2);
  if (headerLength < 20 || totalLength < headerLength) return;
  h.network = NetworkKind::Ipv4;
  h.addressLength = 4;
  Copy(r, ip + 12, 4, h.srcIp.data());
  Copy(r, ip + 16, 4, h.dstIp.data());
  h.protocol = r.U8(ip + 9);
  const uint16_t fragmentField = r.U16(ip + 6);
  h.fragment = (fragmentField & 0x3FFF) != 0;  // more fragments, or an offset
  h.firstFragment = (fragmentField & 0x1FFF) == 0;
  DecodeTransport(r, ip + headerLength, totalLength - headerLength, h);
}

void DecodeIpv6(const ByteReader& r, TransportHeaders& h) {
  const std::size_t ip = kEthernetLength;
  if (!r.Has(ip, kIpv6HeaderLength) || r.U8(ip) >> 4 != 6) return;
  h.network = NetworkKind::Ipv6;
  h.addressLength = 16;
  Copy(r, ip + 8, 16, h.srcIp.data());
  Copy(r, ip + 24, 16, h.dstIp.data());
  // A payload length of 0 is a jumbogram's: the datagram runs to the frame's end.
  const std::size_t payloadLength = r.U16(ip + 4);
  const std::size_t end = payloadLength != 0 ? ip + kIpv6HeaderLength + payloadLength : r.size();
  uint8_t next = r.U8(ip + 6);
  std::size_t offset = ip + kIpv6HeaderLength;
  for (int k = 0; k < kMaxExtensionHeaders; ++k) {
    std::size_t length = 0;
    switch (next) {
      case 0:   // hop-by-hop options
      case 43:  // routing
      case 60:  // destination options
        length = (std::size_t{r.U8(offset + 1)} + 1) * 8;
        break;
      case 51:  // authentication header: its length counts 4-byte words, less 2
        length = (std::size_t{r.U8(offset + 1)} + 2) * 4;
        break;
      case 44: {  // fragment
        const uint16_t field = r.U16(offset + 2);
        h.fragment = true;
        h.firstFragment = (field >> 3) == 0;
        length = 8;
        break;
      }
      default:
        h.protocol = next;
        if (offset <= end) DecodeTransport(r, offset, end - offset, h);
        return;
    }
    if (!r.Has(offset, 2)) return;  // the chain goes on past the captured bytes
    next = r.U8(offset);
    offset += length;
  }
}

}  // namespace

TransportHeaders DecodeTransportHeaders(std::span<const uint8_t> frame) {
  TransportHeaders h;
  const ByteReader r(frame);
  if (!r.Has(0, kEthernetLength)) return h;
  h.ethernet = true;
  Copy(r, 0, 6, h.dstMac.data());
  Copy(r, 6, 6, h.srcMac.data());
  const uint16_t type = r.U16(12);
  if (type == kTypeIpv4) DecodeIpv4(r, h);
  if (type == kTypeIpv6) DecodeIpv6(r, h);
  return h;
}

}  // namespace netvane
