#pragma once
// The frames of the golden capture files and the fuzz seeds.

#include <string>
#include <vector>

#include "tests/support/frames.h"

namespace netvane::testing {

// A named group of frames: one golden capture file.
struct FrameSet {
  std::string name;
  std::vector<Bytes> frames;
};
std::vector<FrameSet> GoldenFrameSets();

}  // namespace netvane::testing
