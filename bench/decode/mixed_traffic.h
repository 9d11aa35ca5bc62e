#pragma once
// A reproducible mix of frames like a busy LAN segment: mostly TCP of all
// sizes, then UDP, ARP, ICMP, IPv6 and a little else.

#include <cstdint>
#include <vector>

#include "tests/decode/golden_frames.h"

namespace netvane::bench {

class MixedTraffic {
public:
  explicit MixedTraffic(uint32_t seed = 1) : state_(seed) {}
  testing::Bytes Next();

private:
  uint32_t Random();
  uint32_t state_;
};

}  // namespace netvane::bench
