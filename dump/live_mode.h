#pragma once
// Live capture for netvane-dump: listing the adapters (-D) and printing the
// frames of one adapter (-i). Printing goes through RowPrinter like file mode;
// with -w the frames are written to pcap files instead.

#include <cstdint>
#include <string>
#include <vector>

#include "capture/remote_name.h"
#include "decode/conversation_table.h"
#include "dump/rotating_writer.h"

namespace netvane {

struct LiveOptions {
  std::string adapter;               // -i; ssh://... for another host's
  int adapterNumber = -1;            // -i as a place in the -D list, when it is all digits
  uint64_t count = 0;                // -c; 0 = until interrupted
  std::vector<std::string> filters;  // -f, the address-filter list
  std::string expression;            // a filter expression, compiled with the list into one program
  std::string writeFile;             // -w: frames go to this pcap file, no rows are printed
  RotationOptions rotation;          // -C, -G, -W: with -w, a series of files
  bool noBroadcast = false;
  bool verbose = false;
  bool hex = false;
  bool time = false;  // --time
  // --conversations: each frame is counted into this table instead of printed.
  ConversationTable* conversations = nullptr;
};

// Exit status as for the whole program: 0 success (a capture ended by
// SIGINT, SIGTERM or SIGHUP included), 1 runtime failure (kernel counters
// that could not be read at the end included), 2 usage. Adapters are
// numbered from 1, as tcpdump numbers them.
int RunListAdapters();
// -D ssh://...: the adapters of another host, by their ssh:// names.
int RunListRemoteAdapters(const RemoteTarget& host);
int RunLiveCapture(const LiveOptions& options);

}  // namespace netvane
