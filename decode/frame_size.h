#pragma once
// The largest frame Netvane captures, stores or reads back: libpcap's largest
// snapshot length. A header of its own, with nothing but the number, so that
// the capture helper (standard C++ and libpcap only) shares it with the
// capture files and the windows.

#include <cstdint>

namespace netvane {

inline constexpr uint32_t kMaxFrameBytes = 262144;

}  // namespace netvane
