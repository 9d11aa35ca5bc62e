#include "tests/decode/golden_frames.h"

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
void AppendPayload(Bytes& b, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>('a' + i % 26));
}

Bytes Truncated(const Bytes& frame, std::size_t length) {
  return Bytes(frame.begin(), frame.begin() + length);
}

Bytes Other(uint16_t etherType, Mac destination = kHostB) {
  Bytes f = Ethernet(destination, kHostA, etherType);
  AppendPayload(f, 46);
  return f;
}

}  // namespace

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

std::vector<FrameSet> GoldenFrameSets() {
  std::vector<FrameSet> sets;
  const Ip4 a{{10, 0, 0, 1}}, b{{192, 168, 100, 254}};
  const Mac none{{0, 0, 0, 0, 0, 0}};

  sets.push_back({"arp",
                  {ArpFrame(kBroadcast, kHostA, 1, a, none, b), ArpFrame(kHostA, kHostB, 2, b, kHostA, a),
                   // Odd length fields: the layout stays 6 + 4 bytes.
                   [&] {
                     Bytes f = ArpFrame(kHostB, kHostA, 1, a, none, b);
                     f[18] = 8;
                     f[19] = 16;
                     f.resize(60, 0);
                     return f;
                   }()}});

  {
    Ip4Header tcp, udp, icmp, igmp, v6in4, gre, l2tp, v6tcp;
    udp.protocol = 17;
    icmp.protocol = 1;
    igmp.protocol = 2;
    igmp.ttl = 1;
    v6in4.protocol = 41;
    gre.protocol = 47;
    l2tp.protocol = 115;
    l2tp.tos = 0xB8;
    v6tcp.version = 6;  // wrong version, still decoded as IPv4
    TcpHeader syn, synAck, highBits, finPushUrg;
    synAck.flags = 0x12;
    synAck.sourcePort = 80;
    synAck.destinationPort = 49152;
    synAck.acknowledgment = 0x0012ABCE;
    synAck.sequence = 0xFEDCBA98;
    highBits.flags = 0xC0;
    finPushUrg.flags = 0x29;
    finPushUrg.offsetByte = 0x8F;
    finPushUrg.urgent = 7;
    finPushUrg.window = 0;
    finPushUrg.checksum = 0x0000;
    Bytes icmpFrame = Ethernet(kHostB, kHostA, 0x0800);
    AppendIp4(icmpFrame, icmp, 8);
    for (uint8_t x : {8, 0, 0xF7, 0xFF, 0, 0, 0, 0}) icmpFrame.push_back(x);
    auto other = [&](const Ip4Header& ip) {
      Bytes f = Ethernet(kHostB, kHostA, 0x0800);
      AppendIp4(f, ip, 26);
      AppendPayload(f, 26);
      return f;
    };
    sets.push_back({"ipv4",
                    {TcpFrame(tcp, syn), TcpFrame(tcp, synAck, 6), TcpFrame(tcp, highBits),
                     TcpFrame(tcp, finPushUrg, 10), UdpFrame(udp, 53, 33000, 18), icmpFrame, other(igmp),
                     other(v6in4), other(gre), other(l2tp), TcpFrame(v6tcp, syn)}});
  }

  {
    Ip4Header six, fifteen, four, zero, sixUdp;
    six.headerWords = 6;
    fifteen.headerWords = 15;
    fifteen.protocol = 17;
    four.headerWords = 4;
    zero.headerWords = 0;
    sixUdp.headerWords = 6;
    sixUdp.protocol = 17;
    TcpHeader ack;
    ack.flags = 0x10;
    ack.sourcePort = 443;
    ack.destinationPort = 51515;
    Bytes shortTcp = TcpFrame(six, ack);  // header length 6, TCP header one byte short
    shortTcp.pop_back();
    sets.push_back({"ip_options",
                    {TcpFrame(six, ack), UdpFrame(fifteen, 5353, 5353, 4), TcpFrame(four, ack),
                     TcpFrame(zero, ack), UdpFrame(sixUdp, 67, 68, 0), shortTcp}});
  }

  {
    Ip4Header dfOnly, firstFragment, middle, last;
    firstFragment.flags = 0x2000;
    firstFragment.protocol = 17;
    middle.flags = 0x20B9;
    middle.protocol = 17;
    last.flags = 0x00B9;
    last.protocol = 6;
    TcpHeader syn;
    sets.push_back({"fragments",
                    {TcpFrame(dfOnly, syn), UdpFrame(firstFragment, 4000, 4001, 40),
                     UdpFrame(middle, 4000, 4001, 40), TcpFrame(last, syn)}});
  }

  sets.push_back({"ethertypes",
                  {Other(0x86DD), Other(0), Other(46), Other(256), Other(257), Other(511), Other(512),
                   Other(1500), Other(1501), Other(0x0600), Other(0x8100), Other(0xFFFF), Other(0x0801),
                   Other(0x0A01), Other(0x8035), Other(0x8870), Other(0x88CC)}});

  {
    Ip4Header udp;
    udp.protocol = 17;
    udp.destination = Ip4{{255, 255, 255, 255}};
    Bytes dhcp = UdpFrame(udp, 68, 67, 20);
    for (int i = 0; i < 6; ++i) dhcp[i] = 0xFF;
    Bytes almost = Other(0x0800);
    almost[5] = 0xFE;
    Bytes multicast = Other(0x0800, Mac{{0x01, 0x00, 0x5E, 0x00, 0x00, 0x01}});
    sets.push_back({"broadcast",
                    {ArpFrame(kBroadcast, kHostA, 1, a, none, b), Other(0x0800), dhcp, almost, multicast,
                     Other(0x86DD, kBroadcast), ArpFrame(kHostA, kHostB, 2, b, kHostA, a)}});
  }

  {
    Ip4Header udp;
    udp.protocol = 17;
    udp.flags = 0;
    Bytes big = UdpFrame(udp, 9000, 9001, 20000 - 42);
    sets.push_back({"big", {big}});
  }

  {
    TcpHeader syn;
    const Bytes tcp = TcpFrame(Ip4Header{}, syn);
    FrameSet shortTcp{"short_tcp", {}};
    for (std::size_t n = 0; n <= tcp.size(); ++n) shortTcp.frames.push_back(Truncated(tcp, n));
    sets.push_back(shortTcp);

    Ip4Header udpHeader;
    udpHeader.protocol = 17;
    const Bytes udp = UdpFrame(udpHeader, 53, 53, 0);
    const Bytes arp = ArpFrame(kHostB, kHostA, 1, a, none, b);
    FrameSet others{"short_other", {}};
    for (std::size_t n : {22, 23, 24, 25, 26, 29, 30, 33, 34, 41, 42})
      others.frames.push_back(Truncated(udp, n));
    for (std::size_t n : {13, 14, 27, 28, 31, 32, 37, 38, 41, 42}) others.frames.push_back(Truncated(arp, n));
    sets.push_back(others);
  }
  return sets;
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
