// Stand-in until live capture is built in: both entry points refuse with
// the usage status, so scripts can tell "not available" from a failed capture.
#include "dump/live_mode.h"

#include <cstdio>

namespace netvane {
namespace {
int NotBuiltIn() {
  std::fputs("netvane-dump: live capture is not built in yet\n", stderr);
  return 2;
}
}  // namespace

int RunListAdapters() { return NotBuiltIn(); }
int RunLiveCapture(const LiveOptions&) { return NotBuiltIn(); }

}  // namespace netvane
