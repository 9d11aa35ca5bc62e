// Rows, tree, highlight ranges and dumps over arbitrary bytes, and the input
// read as a saved frame file (hex text, else binary). Besides the sanitizers'
// checks, the invariants the window relies on are asserted: every range lies
// inside the hex dump, the dumps have 3n and n characters, the bulk row equals
// the cell-by-cell row, a frame's hex dump reads back as that frame, and a
// file read as hex text is the hex dump of what was read from it.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "decode/dumps.h"
#include "decode/packet_row.h"
#include "decode/protocol_tree.h"
#include "pcapfile/saved_file.h"

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

  // The two frame-file formats.
  const std::vector<uint8_t> asHex =
      netvane::FrameFromPacketFile({reinterpret_cast<const uint8_t*>(hex.data()), hex.size()});
  Check(std::equal(asHex.begin(), asHex.end(), frame.begin(), frame.end()));
  std::vector<uint8_t> parsed;
  if (netvane::ParseHexFrameText(frame, parsed)) {
    std::string upper(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(3 * parsed.size()));
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    Check(!parsed.empty() && netvane::HexDump(parsed) == upper && size - 3 * parsed.size() <= 2);
  } else {
    Check(parsed.empty());
    const std::vector<uint8_t> asBinary = netvane::FrameFromPacketFile(frame);
    Check(std::equal(asBinary.begin(), asBinary.end(), frame.begin(), frame.end()));
  }
  return 0;
}
