#include "bench/decode/mixed_traffic.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace netvane::bench {

using namespace netvane::testing;

MixedTraffic::MixedTraffic(uint32_t seed, bool bulk) : state_(seed), bulk_(bulk) {
  for (Flow& f : flows_) {
    f.client = Ip4{{10, 0, static_cast<uint8_t>(Random() % 4), static_cast<uint8_t>(1 + Random() % 250)}};
    f.server = Ip4{{192, 168, static_cast<uint8_t>(Random() % 4), static_cast<uint8_t>(1 + Random() % 250)}};
    f.clientPort = static_cast<uint16_t>(32768 + Random() % 28000);
    // Ports without an application decoder in the other tools: the payload is
    // filler, and the comparison is about the headers that the row shows.
    f.serverPort = static_cast<uint16_t>(5201 + Random() % 2);
    f.clientSeq = Random();
    f.serverSeq = Random();
  }
}

uint32_t MixedTraffic::Random() {
  state_ = state_ * 1664525u + 1013904223u;
  return state_ >> 8;
}

Bytes MixedTraffic::Next() {
  const uint32_t kind = Random() % 100;
  Flow& flow = flows_[Random() % flows_.size()];
  const bool fromClient = Random() % 2 == 0;
  Ip4Header ip;
  ip.source = fromClient ? flow.client : flow.server;
  ip.destination = fromClient ? flow.server : flow.client;
  ip.id = static_cast<uint16_t>(Random());
  if (kind < 55) {
    // Bare ACKs, mid-size and full segments; in bulk, one bare ACK to seven full segments.
    const uint32_t size = bulk_ ? (Random() % 8 == 0 ? 0 : 2) : Random() % 3;
    const std::size_t payload = size == 0 ? 0 : size == 1 ? Random() % 600 : 1460;
    TcpHeader tcp;
    tcp.sourcePort = fromClient ? flow.clientPort : flow.serverPort;
    tcp.destinationPort = fromClient ? flow.serverPort : flow.clientPort;
    uint32_t& seq = fromClient ? flow.clientSeq : flow.serverSeq;
    tcp.sequence = seq;
    tcp.acknowledgment = fromClient ? flow.serverSeq : flow.clientSeq;
    seq += static_cast<uint32_t>(payload);
    tcp.flags = payload == 0 ? 0x10 : 0x18;
    return TcpFrame(ip, tcp, payload);
  }
  if (kind < 80) {
    ip.protocol = 17;
    const uint16_t service = 40000;
    return UdpFrame(ip, fromClient ? flow.clientPort : service, fromClient ? service : flow.clientPort,
                    20 + Random() % 500);
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
  f[14] = 0x60;  // IP version 6
  return f;
}

bool WriteMixedCapture(const std::string& path, long frames, bool bulk) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  const testing::Bytes header = testing::PcapImage({});
  bool written = std::fwrite(header.data(), 1, header.size(), out) == header.size();
  MixedTraffic traffic(1, bulk);
  for (long i = 0; written && i < frames; ++i) {
    const testing::Bytes record = testing::PcapImage({traffic.Next()});
    const std::size_t size = record.size() - header.size();
    written = std::fwrite(record.data() + header.size(), 1, size, out) == size;
  }
  return std::fclose(out) == 0 && written;
}

long MixedCaptureFrames() {
  const char* set = std::getenv("NETVANE_BENCH_FRAMES");
  return set != nullptr ? std::max(1L, std::atol(set)) : 2000000L;
}

}  // namespace netvane::bench
