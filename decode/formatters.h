#pragma once
// Value formatters for header fields and dumps. The Append* forms write into a
// caller's buffer so that a row or a dump is built without temporary strings;
// the returning forms are for the tree's field lines and for tests.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace netvane {

// Each byte as two uppercase hex digits, `separator` between neighbours
// (00:0C:29:1A:2B:3C for a hardware address).
void AppendColonHex(std::string& out, std::span<const uint8_t> bytes, char separator = ':');
std::string ColonHex(std::span<const uint8_t> bytes, char separator = ':');

// Each byte in decimal without leading zeros, `separator` between neighbours (10.0.0.1).
void AppendDottedDecimal(std::string& out, std::span<const uint8_t> bytes, char separator = '.');
std::string DottedDecimal(std::span<const uint8_t> bytes, char separator = '.');

// Each byte as two uppercase hex digits, nothing between them (0800, 0012ABCD).
void AppendHexRun(std::string& out, std::span<const uint8_t> bytes);
std::string HexRun(std::span<const uint8_t> bytes);

// `value` in uppercase hex, zero-padded to at least `minDigits` digits.
std::string HexDigits(uint32_t value, int minDigits);

// `value` in decimal without leading zeros.
void AppendDecimal(std::string& out, uint64_t value);
std::string Decimal(uint64_t value);

// "1" when any of the `mask` bits is set in `value`, else "0".
std::string_view FlagText(uint32_t value, uint32_t mask);

// 0 to 15 for a hex digit (either case), -1 for any other character.
inline int HexDigitValue(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The character a byte shows as in the text dump: "." for 0, the byte itself otherwise.
inline char DumpChar(uint8_t byte) {
  return byte == 0 ? '.' : static_cast<char>(byte);
}

}  // namespace netvane
