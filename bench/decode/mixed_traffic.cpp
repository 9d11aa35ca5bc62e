#include "bench/decode/mixed_traffic.h"

namespace netvane::bench {

using namespace netvane::testing;

uint32_t MixedTraffic::Random() {
  state_ = state_ * 1664525u + 1013904223u;
  return state_ >> 8;
}

Bytes MixedTraffic::Next() {
  const uint32_t kind = Random() % 100;
  Ip4Header ip;
  ip.source = Ip4{{10, 0, static_cast<uint8_t>(Random()), static_cast<uint8_t>(Random())}};
  ip.destination = Ip4{{192, 168, static_cast<uint8_t>(Random()), static_cast<uint8_t>(Random())}};
  ip.id = static_cast<uint16_t>(Random());
  if (kind < 55) {
    TcpHeader tcp;
    tcp.sourcePort = static_cast<uint16_t>(Random());
    tcp.destinationPort = Random() % 2 ? 443 : 80;
    tcp.sequence = Random();
    tcp.acknowledgment = Random();
    tcp.flags = static_cast<uint8_t>(0x10 | (Random() & 0x0F));
    const uint32_t size = Random() % 3;  // bare ACKs, mid-size and full segments
    return TcpFrame(ip, tcp, size == 0 ? 0 : size == 1 ? Random() % 600 : 1460);
  }
  if (kind < 80) {
    ip.protocol = 17;
    return UdpFrame(ip, static_cast<uint16_t>(Random()), 53, 20 + Random() % 500);
  }
  if (kind < 88) {
    const Mac none{{0, 0, 0, 0, 0, 0}};
    Bytes f = ArpFrame(kBroadcast, kHostA, 1, ip.source, none, ip.destination);
    f.resize(60, 0);
    return f;
  }
  if (kind < 93) {
    ip.protocol = 1;
    Bytes f = Ethernet(kHostB, kHostA, 0x0800);
    AppendIp4(f, ip, 64);
    f.resize(f.size() + 64, 0x20);
    return f;
  }
  Bytes f = Ethernet(kHostB, kHostA, kind < 97 ? 0x86DD : 0x88CC);
  f.resize(14 + 40 + Random() % 200, 0x42);
  return f;
}

}  // namespace netvane::bench
