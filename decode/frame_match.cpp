#include "decode/frame_match.h"

#include <algorithm>
#include <cstring>

#include "decode/formatters.h"
#include "decode/packet_row.h"

namespace netvane {
namespace {

int HexValue(char c) {
  return HexDigitValue(static_cast<uint8_t>(c));
}

bool IsSeparator(char c) {
  return c == ' ' || c == '\t' || c == ':' || c == '-';
}

bool IsAsciiLetter(uint8_t b) {
  return (b | 0x20) >= 'a' && (b | 0x20) <= 'z';
}

std::string Quoted(std::string_view text) {
  std::string out = "\"";
  out.append(text);
  out += '"';
  return out;
}

// "a.b.c.d", each part 0 to 255 in decimal.
std::optional<std::vector<uint8_t>> ParseIpv4(std::string_view text) {
  std::vector<uint8_t> out;
  std::size_t at = 0;
  while (out.size() < 4) {
    unsigned value = 0;
    std::size_t digits = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 4; ++at, ++digits)
      value = value * 10 + unsigned(text[at] - '0');
    if (digits == 0 || digits > 3 || value > 255) return std::nullopt;
    out.push_back(static_cast<uint8_t>(value));
    if (out.size() < 4) {
      if (at >= text.size() || text[at] != '.') return std::nullopt;
      ++at;
    }
  }
  if (at != text.size()) return std::nullopt;
  return out;
}

// Six bytes of one or two hex digits each, separated by ':' or '-' throughout.
std::optional<std::vector<uint8_t>> ParseHardware(std::string_view text) {
  std::vector<uint8_t> out;
  std::size_t at = 0;
  char separator = 0;
  while (out.size() < 6) {
    int value = 0;
    std::size_t digits = 0;
    for (; at < text.size() && HexValue(text[at]) >= 0 && digits < 3; ++at, ++digits)
      value = value * 16 + HexValue(text[at]);
    if (digits == 0 || digits > 2) return std::nullopt;
    out.push_back(static_cast<uint8_t>(value));
    if (out.size() < 6) {
      if (at >= text.size() || (text[at] != ':' && text[at] != '-')) return std::nullopt;
      if (separator != 0 && text[at] != separator) return std::nullopt;
      separator = text[at++];
    }
  }
  if (at != text.size()) return std::nullopt;
  return out;
}

std::string_view Trimmed(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

uint64_t Load8(const uint8_t* p) {
  uint64_t word;
  std::memcpy(&word, p, 8);
  return word;
}

}  // namespace

std::optional<std::vector<uint8_t>> ParseHexBytes(std::string_view text, std::string& why) {
  std::vector<uint8_t> out;
  std::size_t at = 0;
  while (at < text.size()) {
    if (IsSeparator(text[at])) {
      ++at;
      continue;
    }
    const int high = HexValue(text[at]);
    const int low = at + 1 < text.size() ? HexValue(text[at + 1]) : -1;
    if (high < 0 || low < 0) {
      const std::size_t bad = high < 0 ? at : at + 1;
      if (bad < text.size() && !IsSeparator(text[bad]))
        why = Quoted(text.substr(bad, 1)) + " is not a hex digit";
      else
        why = "the byte " + Quoted(text.substr(at, 1)) + " has one hex digit only; every byte takes two";
      return std::nullopt;
    }
    out.push_back(static_cast<uint8_t>(high << 4 | low));
    at += 2;
  }
  if (out.empty()) {
    why = "there is no byte in it";
    return std::nullopt;
  }
  return out;
}

std::optional<FrameMatcher> FrameMatcher::Make(FindKind kind, std::string_view input, bool ignoreCase,
                                               std::string& why) {
  FrameMatcher m;
  m.kind_ = kind;
  switch (kind) {
    case FindKind::HexBytes: {
      std::string reason;
      auto bytes = ParseHexBytes(input, reason);
      if (!bytes) {
        why = Quoted(input) + " is not a hex byte string: " + reason + ". Write bytes as 08 00 45 or 080045.";
        return std::nullopt;
      }
      m.pattern_ = std::move(*bytes);
      m.description_ = "the bytes " + ColonHex(m.pattern_, ' ');
      break;
    }
    case FindKind::Text:
      if (input.empty()) {
        why = "Type the text to find.";
        return std::nullopt;
      }
      m.pattern_.assign(input.begin(), input.end());
      m.description_ = "the text " + Quoted(input);
      if (ignoreCase) m.description_ += " (ignoring case)";
      break;
    case FindKind::Address: {
      const std::string_view text = Trimmed(input);
      auto bytes = ParseIpv4(text);
      if (!bytes) bytes = ParseHardware(text);
      if (!bytes) {
        why = Quoted(input) +
              " is not an address: write an IPv4 address as 10.0.0.1 or a hardware address as "
              "00:0C:29:1A:2B:3C.";
        return std::nullopt;
      }
      m.pattern_ = std::move(*bytes);
      m.description_ = "the address " +
                       (m.pattern_.size() == 4 ? DottedDecimal(m.pattern_, '.') : ColonHex(m.pattern_, ':'));
      return m;
    }
  }
  m.fold_.assign(m.pattern_.size(), 0);
  if (kind == FindKind::Text && ignoreCase) {
    for (std::size_t i = 0; i < m.pattern_.size(); ++i) {
      if (!IsAsciiLetter(m.pattern_[i])) continue;
      m.fold_[i] = 0x20;
      m.pattern_[i] |= 0x20;
    }
  }
  return m;
}

bool FrameMatcher::Matches(std::span<const uint8_t> frame) const {
  return kind_ == FindKind::Address ? InAddressCell(frame) : Contains(frame);
}

bool FrameMatcher::Contains(std::span<const uint8_t> frame) const {
  const std::size_t n = pattern_.size();
  if (n == 0 || frame.size() < n) return false;
  const uint8_t* p = frame.data();
  const uint8_t* const lastStart = frame.data() + (frame.size() - n);
  // Whether the pattern's bytes after the first are at `at`.
  const auto restAt = [&](const uint8_t* at) {
    std::size_t i = 1;
    while (i < n && (at[i] | fold_[i]) == pattern_[i]) ++i;
    return i == n;
  };
  if (fold_[0] == 0) {
    // An exact first byte: the C library's scan finds it fastest.
    while (p <= lastStart) {
      p = static_cast<const uint8_t*>(std::memchr(p, pattern_[0], std::size_t(lastStart + 1 - p)));
      if (p == nullptr) return false;
      if (restAt(p)) return true;
      ++p;
    }
    return false;
  }
  // A letter of either case first, which ordinary text holds everywhere:
  // sixteen starts at a time, each a candidate only where both the first and
  // the last byte of the pattern fit. The loop over the sixteen is plain
  // enough for the compiler to make it one vector instruction of each kind.
  constexpr std::size_t kRun = 16;
  const uint8_t first = pattern_[0], firstFold = fold_[0];
  const uint8_t last = pattern_[n - 1], lastFold = fold_[n - 1];
  for (; lastStart - p >= std::ptrdiff_t{kRun} - 1; p += kRun) {
    uint8_t fits[kRun];
    for (std::size_t i = 0; i < kRun; ++i)
      fits[i] = static_cast<uint8_t>(((p[i] | firstFold) == first) & ((p[i + n - 1] | lastFold) == last));
    uint64_t any = 0;
    for (std::size_t i = 0; i < kRun; i += 8) any |= Load8(fits + i);
    if (any == 0) continue;
    for (std::size_t i = 0; i < kRun; ++i)
      if (fits[i] != 0 && restAt(p + i)) return true;
  }
  for (; p <= lastStart; ++p)
    if ((*p | firstFold) == first && restAt(p)) return true;
  return false;
}

bool FrameMatcher::InAddressCell(std::span<const uint8_t> frame) const {
  static constexpr int kIpCells[] = {kSourceIp, kDestinationIp};
  static constexpr int kHardwareCells[] = {kSourceCard, kDestinationCard};
  for (const int column : pattern_.size() == 4 ? kIpCells : kHardwareCells) {
    const std::span<const uint8_t> cell = AddressCellBytes(frame, column);
    if (std::equal(cell.begin(), cell.end(), pattern_.begin(), pattern_.end())) return true;
  }
  return false;
}

}  // namespace netvane
