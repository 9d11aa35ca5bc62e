// The frame list's index builder and readers over an arbitrary file: the
// input is written to an in-memory file and opened as a capture in place,
// indexed to its end (small read blocks make records cross block ends), then
// every frame is read on its own and in walks both ways. Besides the
// sanitizers' checks, the invariants the window relies on are asserted: the
// numbers come in order, and a walk hands out what a single read gives.
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "pcapfile/frame_list.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int fd = memfd_create("capture", MFD_CLOEXEC);
  if (fd < 0) return 0;
  for (size_t done = 0; done < size;) {
    const ssize_t n = write(fd, data + done, size - done);
    if (n <= 0) {
      close(fd);
      return 0;
    }
    done += static_cast<size_t>(n);
  }
  netvane::FrameList list;
  std::string error;
  if (list.OpenCapture("/proc/self/fd/" + std::to_string(fd), error)) {
    while (list.IndexSome(std::chrono::steady_clock::time_point::max()) ==
           netvane::FrameList::Indexing::More) {
    }
    const uint32_t count = list.Count();
    Check(count == 0 || list.IndexedShare() > 0);
    std::vector<std::vector<uint8_t>> frames(count + 1);
    for (uint32_t n = 1; n <= count; ++n) {
      Check(list.ReadFrame(n, frames[n]));
      Check(frames[n].size() <= list.LongestFrame());
      list.Stamp(n);
    }
    for (const bool forward : {true, false}) {
      uint32_t expect = forward ? 1 : count;
      list.ForEachFrame(expect, forward ? count : 1, [&](uint32_t number, std::span<const uint8_t> bytes) {
        Check(number == expect);
        Check(std::vector<uint8_t>(bytes.begin(), bytes.end()) == frames[number]);
        expect = forward ? expect + 1 : expect - 1;
        return true;
      });
    }
  }
  close(fd);
  return 0;
}
