#pragma once
// What Find looks for in the listed frames, and whether one frame holds it:
//   - a hex byte string ("08 00 45"; blanks, ':' or '-' may stand between bytes)
//     anywhere in the frame's bytes;
//   - a text (8-bit characters, optionally ignoring the case of ASCII letters)
//     anywhere in the frame's bytes;
//   - an IPv4 or hardware address shown in one of the row's address cells.
// A match never spans two frames. Matching reads only the frame's own bytes.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace netvane {

enum class FindKind : uint8_t { HexBytes, Text, Address };

// Parses a hex byte string: pairs of hex digits (either case), optionally
// separated by blanks, ':' or '-'. nullopt, with the reason in `why`, when it
// is empty, holds anything else, or a byte has one digit only.
std::optional<std::vector<uint8_t>> ParseHexBytes(std::string_view text, std::string& why);

class FrameMatcher {
 public:
  // The matcher for what the user typed (8-bit text; `ignoreCase` applies to
  // Text only). nullopt, with a message for the user in `why`, when the input
  // is malformed.
  static std::optional<FrameMatcher> Make(FindKind kind, std::string_view input, bool ignoreCase,
                                          std::string& why);

  bool Matches(std::span<const uint8_t> frame) const;
  // What is looked for, for messages: "the bytes 08 00 45", "the text "GET"",
  // "the address 10.0.0.1".
  const std::string& Description() const { return description_; }

 private:
  FrameMatcher() = default;
  bool Contains(std::span<const uint8_t> frame) const;
  bool InAddressCell(std::span<const uint8_t> frame) const;

  FindKind kind_ = FindKind::HexBytes;
  // HexBytes and Text: the bytes, letters in lower case when case is ignored;
  // Address: the address's 4 or 6 bytes.
  std::vector<uint8_t> pattern_;
  // Per pattern byte: 0x20 where a letter may come in either case, else 0.
  // A frame byte b matches pattern byte p when (b | fold) == p.
  std::vector<uint8_t> fold_;
  std::string description_;
};

}  // namespace netvane
