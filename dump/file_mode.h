#pragma once
// File mode of netvane-dump: capture files (pcap, pcapng) read through libpcap,
// and any other file taken as one raw frame (the binary packet-file format).

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "dump/row_printer.h"

namespace netvane {

// True when the first bytes are a pcap or pcapng magic number. Anything else
// is a raw frame, so a raw frame that happens to start with such bytes would
// be misread; the magic numbers are not plausible Ethernet destinations.
bool LooksLikeCaptureFile(std::span<const uint8_t> head);

// Prints every frame of every file in order, numbering across files as one
// packet list would. Returns 0; 1 when a file could not be read to its end
// (what was read is printed, then the error); 2 when a capture's link type is
// not Ethernet. Later files are still read after a failed one; the highest
// status wins.
int RunFileMode(const std::vector<std::string>& files, const PrintOptions& options, std::FILE* out,
                std::FILE* err);

}  // namespace netvane
