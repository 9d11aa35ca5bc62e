#include "tests/decode/golden_frames.h"

namespace netvane::testing {
namespace {

Bytes Truncated(const Bytes& frame, std::size_t length) {
  return Bytes(frame.begin(), frame.begin() + length);
}

Bytes Other(uint16_t etherType, Mac destination = kHostB) {
  Bytes f = Ethernet(destination, kHostA, etherType);
  AppendPayload(f, 46);
  return f;
}

}  // namespace

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

}  // namespace netvane::testing
