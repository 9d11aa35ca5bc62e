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
  std::FILE* out = std::fopen(argv[1], "wb");
  if (out == nullptr || frames <= 0) {
    std::perror(argv[1]);
    return 1;
  }
  // The file header, then the records; written one by one to keep memory flat.
  const netvane::testing::Bytes header = netvane::testing::PcapImage({});
  std::fwrite(header.data(), 1, header.size(), out);
  netvane::bench::MixedTraffic traffic;
  for (long i = 0; i < frames; ++i) {
    const netvane::testing::Bytes record = netvane::testing::PcapImage({traffic.Next()});
    std::fwrite(record.data() + header.size(), 1, record.size() - header.size(), out);
  }
  return std::fclose(out) == 0 ? 0 : 1;
}
