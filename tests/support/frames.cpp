#include "tests/support/frames.h"

namespace netvane::testing {
namespace {

void Put16(Bytes& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v >> 8));
  b.push_back(static_cast<uint8_t>(v));
}
void Put32(Bytes& b, uint32_t v) {
  Put16(b, static_cast<uint16_t>(v >> 16));
  Put16(b, static_cast<uint16_t>(v));
}
void PutLe16(Bytes& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void PutLe32(Bytes& b, uint32_t v) {
  PutLe16(b, static_cast<uint16_t>(v));
  PutLe16(b, static_cast<uint16_t>(v >> 16));
}

}  // namespace

void AppendPayload(Bytes& b, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>('a' + i % 26));
}

Bytes Ethernet(Mac destination, Mac source, uint16_t etherType) {
  Bytes f;
  f.reserve(64);
  for (uint8_t b : destination.b) f.push_back(b);
  for (uint8_t b : source.b) f.push_back(b);
  Put16(f, etherType);
  return f;
}

void AppendIp4(Bytes& frame, const Ip4Header& ip, std::size_t payloadBytes) {
  const std::size_t start = frame.size();
  const std::size_t headerBytes = ip.headerWords >= 5 ? ip.headerWords * 4u : 20u;
  frame.push_back(static_cast<uint8_t>(ip.version << 4 | (ip.headerWords & 0x0F)));
  frame.push_back(ip.tos);
  Put16(frame, static_cast<uint16_t>(headerBytes + payloadBytes));
  Put16(frame, ip.id);
  Put16(frame, ip.flags);
  frame.push_back(ip.ttl);
  frame.push_back(ip.protocol);
  Put16(frame, 0);
  frame.insert(frame.end(), ip.source.b, ip.source.b + 4);
  frame.insert(frame.end(), ip.destination.b, ip.destination.b + 4);
  // Options: NOPs, then an end-of-options byte.
  for (std::size_t i = 20; i < headerBytes; ++i) frame.push_back(i + 1 == headerBytes ? 0x00 : 0x01);
  uint32_t sum = 0;
  for (std::size_t i = start; i < start + headerBytes; i += 2) sum += uint32_t{frame[i]} << 8 | frame[i + 1];
  while (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);
  const uint16_t checksum = static_cast<uint16_t>(~sum);
  frame[start + 10] = static_cast<uint8_t>(checksum >> 8);
  frame[start + 11] = static_cast<uint8_t>(checksum);
}

void AppendTcp(Bytes& frame, const TcpHeader& tcp) {
  Put16(frame, tcp.sourcePort);
  Put16(frame, tcp.destinationPort);
  Put32(frame, tcp.sequence);
  Put32(frame, tcp.acknowledgment);
  frame.push_back(tcp.offsetByte);
  frame.push_back(tcp.flags);
  Put16(frame, tcp.window);
  Put16(frame, tcp.checksum);
  Put16(frame, tcp.urgent);
}

void AppendUdp(Bytes& frame, uint16_t sourcePort, uint16_t destinationPort, uint16_t length,
               uint16_t checksum) {
  Put16(frame, sourcePort);
  Put16(frame, destinationPort);
  Put16(frame, length);
  Put16(frame, checksum);
}

Bytes PaddedEthernet(uint16_t etherType, uint8_t fill) {
  Bytes f = Ethernet(kHostB, kHostA, etherType);
  f.resize(60, fill);
  return f;
}

Bytes PaddedIp4(uint8_t protocol) {
  Ip4Header ip;
  ip.protocol = protocol;
  Bytes f = Ethernet(kHostB, kHostA, 0x0800);
  AppendIp4(f, ip, 26);
  f.resize(60, 0);
  return f;
}

Bytes TcpFrame(const Ip4Header& ip, const TcpHeader& tcp, std::size_t payloadBytes) {
  Bytes f = Ethernet(kHostB, kHostA, 0x0800);
  AppendIp4(f, ip, 20 + payloadBytes);
  AppendTcp(f, tcp);
  AppendPayload(f, payloadBytes);
  return f;
}

Bytes UdpFrame(const Ip4Header& ip, uint16_t sourcePort, uint16_t destinationPort, std::size_t payloadBytes) {
  Bytes f = Ethernet(kHostB, kHostA, 0x0800);
  AppendIp4(f, ip, 8 + payloadBytes);
  AppendUdp(f, sourcePort, destinationPort, static_cast<uint16_t>(8 + payloadBytes), 0x1F2E);
  AppendPayload(f, payloadBytes);
  return f;
}

Bytes ArpFrame(Mac destination, Mac sender, uint16_t operation, Ip4 senderIp, Mac target, Ip4 targetIp) {
  Bytes f = Ethernet(destination, sender, 0x0806);
  Put16(f, 1);       // Ethernet
  Put16(f, 0x0800);  // IPv4
  f.push_back(6);
  f.push_back(4);
  Put16(f, operation);
  f.insert(f.end(), sender.b, sender.b + 6);
  f.insert(f.end(), senderIp.b, senderIp.b + 4);
  f.insert(f.end(), target.b, target.b + 6);
  f.insert(f.end(), targetIp.b, targetIp.b + 4);
  return f;
}

Bytes PcapImage(const std::vector<Bytes>& frames, uint32_t linkType) {
  Bytes out;
  PutLe32(out, 0xA1B2C3D4);
  PutLe16(out, 2);
  PutLe16(out, 4);
  PutLe32(out, 0);
  PutLe32(out, 0);
  PutLe32(out, 65535);
  PutLe32(out, linkType);
  uint32_t seconds = 1700000000;
  for (const Bytes& f : frames) {
    PutLe32(out, seconds++);
    PutLe32(out, 0);
    PutLe32(out, static_cast<uint32_t>(f.size()));
    PutLe32(out, static_cast<uint32_t>(f.size()));
    out.insert(out.end(), f.begin(), f.end());
  }
  return out;
}

Bytes PcapImage(const std::vector<PcapRecord>& records, bool nanoseconds) {
  Bytes out;
  PutLe32(out, nanoseconds ? 0xA1B23C4D : 0xA1B2C3D4);
  PutLe16(out, 2);
  PutLe16(out, 4);
  PutLe32(out, 0);
  PutLe32(out, 0);
  PutLe32(out, 65535);
  PutLe32(out, 1);
  for (const PcapRecord& r : records) {
    PutLe32(out, r.seconds);
    PutLe32(out, r.fraction);
    PutLe32(out, static_cast<uint32_t>(r.frame.size()));
    PutLe32(out, r.wireLength != 0 ? r.wireLength : static_cast<uint32_t>(r.frame.size()));
    out.insert(out.end(), r.frame.begin(), r.frame.end());
  }
  return out;
}

Bytes PcapngImage(const std::vector<Bytes>& frames) {
  Bytes out;
  // Section header block.
  PutLe32(out, 0x0A0D0D0A);
  PutLe32(out, 28);
  PutLe32(out, 0x1A2B3C4D);
  PutLe16(out, 1);
  PutLe16(out, 0);
  PutLe32(out, 0xFFFFFFFF);
  PutLe32(out, 0xFFFFFFFF);
  PutLe32(out, 28);
  // Interface description block: Ethernet.
  PutLe32(out, 1);
  PutLe32(out, 20);
  PutLe16(out, 1);
  PutLe16(out, 0);
  PutLe32(out, 65535);
  PutLe32(out, 20);
  // Enhanced packet blocks.
  for (const Bytes& f : frames) {
    const uint32_t padded = static_cast<uint32_t>((f.size() + 3) / 4 * 4);
    const uint32_t total = 32 + padded;
    PutLe32(out, 6);
    PutLe32(out, total);
    PutLe32(out, 0);
    PutLe32(out, 0);
    PutLe32(out, 0);
    PutLe32(out, static_cast<uint32_t>(f.size()));
    PutLe32(out, static_cast<uint32_t>(f.size()));
    out.insert(out.end(), f.begin(), f.end());
    out.resize(out.size() + (padded - f.size()), 0);
    PutLe32(out, total);
  }
  return out;
}

}  // namespace netvane::testing
