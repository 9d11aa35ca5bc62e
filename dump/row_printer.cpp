#include "dump/row_printer.h"

#include "decode/dumps.h"
#include "decode/formatters.h"
#include "decode/packet_row.h"
#include "decode/protocol_tree.h"

namespace netvane {
namespace {
constexpr std::size_t kFlushAt = std::size_t{1} << 16;
}

RowPrinter::RowPrinter(std::FILE* out, PrintOptions options) : out_(out), options_(options) {
  buffer_.reserve(2 * kFlushAt);
}

RowPrinter::~RowPrinter() {
  Flush();
}

bool RowPrinter::Print(std::span<const uint8_t> frame) {
  if (LeftOut(frame, options_.noBroadcast)) return false;
  ++number_;
  AppendPacketRow(buffer_, frame, number_, '\t');
  buffer_.push_back('\n');
  if (options_.verbose) {
    const ProtocolTree tree = BuildProtocolTree(frame);
    for (const Section& section : tree.sections) {
      buffer_ += section.title;
      buffer_.push_back('\n');
      for (const FieldLine& line : section.lines) {
        buffer_ += "  ";
        buffer_ += line.text;
        buffer_ += "\t[";
        AppendDecimal(buffer_, line.range.start);
        buffer_.push_back('/');
        AppendDecimal(buffer_, line.range.count);
        buffer_ += "]\n";
      }
    }
  }
  if (options_.hex) {
    buffer_ += HexDump(frame);
    buffer_.push_back('\n');
  }
  if (buffer_.size() >= kFlushAt) Flush();
  return true;
}

bool RowPrinter::Flush() {
  if (!buffer_.empty()) {
    if (std::fwrite(buffer_.data(), 1, buffer_.size(), out_) != buffer_.size()) failed_ = true;
    buffer_.clear();
  }
  if (std::fflush(out_) != 0) failed_ = true;
  return !failed_;
}

}  // namespace netvane
