#pragma once
// File mode of netvane-dump: capture files (pcap, pcapng) read through libpcap,
// and any other file up to the size of the largest saved frame taken as one
// (the hex text format when it is that, otherwise the binary format).
// With -r, a filter expression picks the frames that are printed or written.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "dump/row_printer.h"

namespace netvane {

class FrameFilter;

struct FileModeOptions {
  PrintOptions print;
  const FrameFilter* filter = nullptr;  // only matching frames are printed or written
  uint64_t count = 0;                   // -c: stop after this many; 0: read every frame
  std::string writeFile;                // -w: write the frames as pcap instead of printing rows
};

// Prints every frame of every file in order, numbering across files as one
// packet list would; a frame the filter leaves out keeps its number, so rows
// carry the numbers they have without it. With a write file, the frames go
// there, each with its time stamp, captured and wire length unchanged.
// Returns 0; 1 when a file could not be read to its end (what was read is
// printed, then the error) or the output could not be written; 2 when a
// capture's link type is not Ethernet. Later files are still read after a
// failed one; the highest status wins.
int RunFileMode(const std::vector<std::string>& files, const FileModeOptions& options, std::FILE* out,
                std::FILE* err);

}  // namespace netvane
