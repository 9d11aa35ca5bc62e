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
};

class RowPrinter {
 public:
  RowPrinter(std::FILE* out, PrintOptions options);
  ~RowPrinter();
  RowPrinter(const RowPrinter&) = delete;
  RowPrinter& operator=(const RowPrinter&) = delete;

  // Prints one frame; returns false when the broadcast rule left it out.
  bool Print(std::span<const uint8_t> frame);
  // Writes what is buffered; false when the stream reported an error.
  bool Flush();
  // Number of the last printed frame (0 before the first).
  uint32_t LastNumber() const { return number_; }

 private:
  std::FILE* out_;
  PrintOptions options_;
  uint32_t number_ = 0;
  std::string buffer_;
  bool failed_ = false;
};

}  // namespace netvane
