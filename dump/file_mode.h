#pragma once
// File mode of netvane-dump: capture files (pcap, pcapng) read through libpcap,
// and any other file up to the size of the largest saved frame taken as one
// (the hex text format when it is that, otherwise the binary format).

#include <cstdio>
#include <string>
#include <vector>

#include "dump/row_printer.h"

namespace netvane {

// Prints every frame of every file in order, numbering across files as one
// packet list would. Returns 0; 1 when a file could not be read to its end
// (what was read is printed, then the error); 2 when a capture's link type is
// not Ethernet. Later files are still read after a failed one; the highest
// status wins.
int RunFileMode(const std::vector<std::string>& files, const PrintOptions& options, std::FILE* out,
                std::FILE* err);

}  // namespace netvane
