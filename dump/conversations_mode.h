#pragma once
// --conversations=eth|ip|ipv6|tcp|udp: the conversations table of the frames
// read (or captured), one header line, then one TAB-joined line of 14 cells
// per conversation in order of its first frame.

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "decode/conversation_table.h"
#include "dump/row_printer.h"

namespace netvane {

class FrameFilter;

// The table named by --conversations's value; false for an unknown name.
bool ConversationKindNamed(std::string_view name, ConversationKind& kind);

// Writes `kind`'s table: addresses as the packet list writes them (IPv6 in
// its shortest form), ports as numbers and empty where there are none, times
// in seconds with 6 decimals, bits per second as whole numbers and empty for
// a conversation of no duration. False when the output could not be written.
bool PrintConversations(const ConversationTable& table, ConversationKind kind, std::FILE* out);

// Reads every file as file mode reads them and prints the table of the frames
// `filter` takes (all of them without one); frames the broadcast rule leaves
// out are not counted; with a `count` (-c), only the first `count` frames
// taken. Exit status as file mode's.
int RunConversations(const std::vector<std::string>& files, ConversationKind kind, const FrameFilter* filter,
                     bool noBroadcast, uint64_t count, std::FILE* out, std::FILE* err);

}  // namespace netvane
