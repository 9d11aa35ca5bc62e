#pragma once
// Live capture for netvane-dump: listing the adapters (-D) and printing the
// frames of one adapter (-i). Printing goes through RowPrinter like file mode;
// with -w the frames are written to a pcap file instead.

#include <cstdint>
#include <string>
#include <vector>

namespace netvane {

struct LiveOptions {
  std::string adapter;               // -i
  uint64_t count = 0;                // -c; 0 = until interrupted
  std::vector<std::string> filters;  // -f, the address-filter list
  std::string writeFile;             // -w: frames go to this pcap file, no rows are printed
  bool noBroadcast = false;
  bool verbose = false;
  bool hex = false;
};

// Exit status as for the whole program: 0 success, 1 runtime failure, 2 usage.
int RunListAdapters();
int RunLiveCapture(const LiveOptions& options);

}  // namespace netvane
