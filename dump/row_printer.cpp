#include "dump/row_printer.h"

#include <ctime>

#include "decode/dumps.h"
#include "decode/formatters.h"
#include "decode/packet_row.h"
#include "decode/protocol_tree.h"

namespace netvane {
namespace {
constexpr std::size_t kFlushAt = std::size_t{1} << 16;

// The time stamp as tcpdump -tttt writes it: local date and time with
// microseconds (2026-12-10 16:04:19.000123).
void AppendLocalTime(std::string& out, int64_t seconds, uint32_t microseconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm local{};
  char text[64];
  if (localtime_r(&t, &local) == nullptr ||
      std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local) == 0)
    return;
  out += text;
  char fraction[16];
  std::snprintf(fraction, sizeof fraction, ".%06u", microseconds % 1000000u);
  out += fraction;
}

}  // namespace

RowPrinter::RowPrinter(std::FILE* out, PrintOptions options) : out_(out), options_(options) {
  buffer_.reserve(2 * kFlushAt);
}

RowPrinter::~RowPrinter() {
  Flush();
}

bool RowPrinter::Print(std::span<const uint8_t> frame, const FrameStamp& stamp, bool show) {
  if (LeftOut(frame, options_.noBroadcast)) return false;
  ++number_;
  if (!show) return false;
  AppendPacketRow(buffer_, frame, number_, '\t');
  if (options_.time) {
    buffer_.push_back('\t');
    if (stamp.timed) AppendLocalTime(buffer_, stamp.seconds, stamp.microseconds);
    buffer_.push_back('\t');
    AppendDecimal(buffer_, stamp.wireLength != 0 ? stamp.wireLength : frame.size());
  }
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
