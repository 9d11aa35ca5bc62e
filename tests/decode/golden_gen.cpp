// Writes the golden capture files (and, given a second directory, every golden
// frame as a raw seed file for the fuzzer). Run by hand when the frame sets
// change; the expected outputs beside the captures are checked by hand.
//   decode_golden_gen tests/decode/golden [fuzz/seeds/decode]
#include <cstdio>
#include <string>

#include "tests/decode/golden_frames.h"

using namespace netvane::testing;

namespace {

bool Write(const std::string& path, const Bytes& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: decode_golden_gen GOLDEN_DIR [SEED_DIR]\n");
    return 2;
  }
  const std::string dir = argv[1];
  bool ok = true;
  const auto sets = GoldenFrameSets();
  const FrameSet* ipv4 = nullptr;
  for (const FrameSet& set : sets) {
    ok &= Write(dir + "/" + set.name + ".pcap", PcapImage(set.frames));
    if (set.name == "ipv4") ipv4 = &set;
  }
  if (ipv4 != nullptr) {
    ok &= Write(dir + "/pcapng.pcapng", PcapngImage(ipv4->frames));
    // The save dialog's binary format: the frame's bytes and nothing else.
    ok &= Write(dir + "/raw_frame.bin", ipv4->frames[0]);
    Bytes cut = PcapImage(ipv4->frames);
    std::size_t threeRecords = 24;
    for (std::size_t i = 0; i < 3; ++i) threeRecords += 16 + ipv4->frames[i].size();
    cut.resize(threeRecords + 16 + 10);  // ends inside the fourth record's bytes
    ok &= Write(dir + "/truncated.pcap", cut);
    ok &= Write(dir + "/linktype_raw.pcap",
                PcapImage({Bytes(ipv4->frames[0].begin() + 14, ipv4->frames[0].end())}, 101));
  }
  if (argc > 2) {
    const std::string seeds = argv[2];
    for (const FrameSet& set : sets) {
      // Keep the corpus small: the long frame and most short prefixes add nothing.
      if (set.name == "big" || set.name == "short_tcp") continue;
      for (std::size_t i = 0; i < set.frames.size(); ++i)
        ok &= Write(seeds + "/" + set.name + "_" + std::to_string(i), set.frames[i]);
    }
  }
  if (!ok) std::perror("decode_golden_gen");
  return ok ? 0 : 1;
}
