#pragma once
// --follow=N[:client|:server]: TCP stream N of one capture file, as text
// turns or one side's bytes raw.

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace netvane {

class FrameFilter;

struct FollowOptions {
  uint32_t stream = 0;
  enum class Output { Turns, Client, Server } output = Output::Turns;
  const FrameFilter* filter = nullptr;  // only the frames it takes count
};

// Parses --follow's value: N, N:client or N:server. An empty text when it is
// one, else why not.
std::string ParseFollow(std::string_view value, FollowOptions& options);

// Follows the stream through the capture `file`, read in place: the frames
// are walked once in order, and those that came ahead of a hole are read
// again when it fills, so memory stays small whatever the stream's size.
//
// Turns: each side's run of bytes under a line "==> CLIENT to SERVER" or
// "<== SERVER to CLIENT" (the endpoints as ADDRESS:PORT, an IPv6 address in
// brackets), printable ASCII, tab and line feed as they are, carriage returns
// left out, any other byte as "."; bytes never captured as a line
// "[N bytes missing]".
// A side: its bytes exactly as reassembled. Bytes never captured are not
// written; standard error then says how many there were, and the status is
// still 0: what is written is exactly what was captured, in order.
//
// Status: 0; 1 when the file cannot be read to its end (what could be read is
// followed) or the output cannot be written; 2 when the capture has no
// stream N or is not Ethernet.
int RunFollow(const std::string& file, const FollowOptions& options, std::FILE* out, std::FILE* err);

}  // namespace netvane
