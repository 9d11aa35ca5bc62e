#pragma once
// A reproducible mix of frames like a busy LAN segment: mostly TCP of all
// sizes, then UDP, ARP, ICMP, IPv6 and a little else, among a few dozen
// conversations (as on a real segment; every frame a new conversation would
// measure the other tools' flow tables rather than their decoding). Payloads
// are filler on ports that no application decoder claims.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/decode/golden_frames.h"

namespace netvane::bench {

class MixedTraffic {
 public:
  // `bulk`: TCP carries mostly full segments, as in a capture of transfers
  // (about 830 bytes a frame on average instead of about 450).
  explicit MixedTraffic(uint32_t seed = 1, bool bulk = false);
  testing::Bytes Next();

 private:
  struct Flow {
    testing::Ip4 client, server;
    uint16_t clientPort, serverPort;
    uint32_t clientSeq, serverSeq;
  };
  uint32_t Random();
  uint32_t state_;
  bool bulk_;
  std::array<Flow, 48> flows_;
};

// Writes `frames` frames of the mix as a pcap file, record by record so that
// memory stays flat however many there are. False when the file could not be
// created or written.
bool WriteMixedCapture(const std::string& path, long frames, bool bulk = false);

// How many frames a benchmark writes: NETVANE_BENCH_FRAMES where it is set (at
// least 1), else 2,000,000.
long MixedCaptureFrames();

}  // namespace netvane::bench
