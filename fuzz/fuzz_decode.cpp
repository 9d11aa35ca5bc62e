// Rows, tree, highlight ranges and dumps over arbitrary bytes. Besides the
// sanitizers' checks, the invariants the window relies on are asserted: every
// range lies inside the hex dump, the dumps have 3n and n characters, and the
// bulk row equals the cell-by-cell row.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "decode/dumps.h"
#include "decode/packet_row.h"
#include "decode/protocol_tree.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> frame(data, size);

  const auto row = netvane::PacketRow(frame, 7);
  std::string joined;
  netvane::AppendPacketRow(joined, frame, 7, '\t');
  std::string expected;
  for (int c = 0; c < netvane::kColumnCount; ++c) {
    if (c != 0) expected += '\t';
    expected += row[c];
  }
  Check(joined == expected);
  Check(!netvane::IsBroadcast(frame) || size >= 6);

  const std::string hex = netvane::HexDump(frame);
  const std::string text = netvane::TextDump(frame);
  Check(hex.size() == 3 * size);
  Check(text.size() == size);

  const netvane::ProtocolTree tree = netvane::BuildProtocolTree(frame);
  Check(tree.sections.size() <= 3);
  Check(size >= 14 || tree.sections.empty());
  for (std::size_t p = 0; p < tree.sections.size(); ++p) {
    const auto& lines = tree.sections[p].lines;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const netvane::HighlightRange r = lines[i].range;
      Check(r.count > 0);
      Check(std::size_t{r.start} + r.count <= hex.size());
    }
  }
  return 0;
}
