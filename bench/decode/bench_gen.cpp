// decode_bench_gen FILE FRAMES: writes FRAMES frames of mixed traffic as a pcap file.
#include <cstdio>
#include <cstdlib>

#include "bench/decode/mixed_traffic.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: decode_bench_gen FILE FRAMES\n");
    return 2;
  }
  const long frames = std::strtol(argv[2], nullptr, 10);
  if (frames <= 0) {
    std::fprintf(stderr, "decode_bench_gen: FRAMES must be a positive number\n");
    return 2;
  }
  if (!netvane::bench::WriteMixedCapture(argv[1], frames)) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
