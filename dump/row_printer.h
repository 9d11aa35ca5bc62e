#pragma once
// Prints frames the way the packet list numbers and shows them: one row of six
// TAB-joined cells, optionally the protocol tree and the hex dump. Shared by
// file mode and live capture. Output is collected in a buffer and written in
// large pieces; nothing is flushed per frame.

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

namespace netvane {

struct PrintOptions {
  bool noBroadcast = false;  // leave frames to FF:FF:FF:FF:FF:FF out; they take no number
  bool verbose = false;      // the tree after each row
  bool hex = false;          // the hex dump after each row (and tree)
  bool time = false;         // two more cells: the time stamp and the length on the wire
};

// When a frame was captured and how long it was on the wire. A saved frame
// has no time stamp; its length is its own.
struct FrameStamp {
  bool timed = false;
  int64_t seconds = 0;
  uint32_t microseconds = 0;
  uint32_t wireLength = 0;  // 0: the frame's own length
};

class RowPrinter {
 public:
  RowPrinter(std::FILE* out, PrintOptions options);
  ~RowPrinter();
  RowPrinter(const RowPrinter&) = delete;
  RowPrinter& operator=(const RowPrinter&) = delete;

  // Numbers one frame as the packet list would and prints it, unless `show`
  // is false (a filter left it out: it keeps its number all the same).
  // Returns whether it was printed; a frame the broadcast rule leaves out
  // takes no number.
  bool Print(std::span<const uint8_t> frame, const FrameStamp& stamp = {}, bool show = true);
  // Writes what is buffered; false when the stream reported an error.
  bool Flush();
  // Number of the last frame numbered, printed or not (0 before the first).
  uint32_t LastNumber() const { return number_; }

 private:
  std::FILE* out_;
  PrintOptions options_;
  uint32_t number_ = 0;
  std::string buffer_;
  bool failed_ = false;
};

}  // namespace netvane
