#include "decode/formatters.h"

namespace netvane {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

inline void PutHexByte(char* out, uint8_t byte) {
  out[0] = kHexDigits[byte >> 4];
  out[1] = kHexDigits[byte & 0x0F];
}

}  // namespace

void AppendColonHex(std::string& out, std::span<const uint8_t> bytes, char separator) {
  if (bytes.empty()) return;
  std::size_t at = out.size();
  out.resize(at + bytes.size() * 3 - 1);
  char* p = out.data() + at;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i != 0) *p++ = separator;
    PutHexByte(p, bytes[i]);
    p += 2;
  }
}

std::string ColonHex(std::span<const uint8_t> bytes, char separator) {
  std::string out;
  AppendColonHex(out, bytes, separator);
  return out;
}

void AppendDottedDecimal(std::string& out, std::span<const uint8_t> bytes, char separator) {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i != 0) out.push_back(separator);
    uint8_t b = bytes[i];
    if (b >= 100) out.push_back(static_cast<char>('0' + b / 100));
    if (b >= 10) out.push_back(static_cast<char>('0' + b / 10 % 10));
    out.push_back(static_cast<char>('0' + b % 10));
  }
}

std::string DottedDecimal(std::span<const uint8_t> bytes, char separator) {
  std::string out;
  AppendDottedDecimal(out, bytes, separator);
  return out;
}

void AppendHexRun(std::string& out, std::span<const uint8_t> bytes) {
  std::size_t at = out.size();
  out.resize(at + bytes.size() * 2);
  char* p = out.data() + at;
  for (uint8_t b : bytes) {
    PutHexByte(p, b);
    p += 2;
  }
}

std::string HexRun(std::span<const uint8_t> bytes) {
  std::string out;
  AppendHexRun(out, bytes);
  return out;
}

std::string HexDigits(uint32_t value, int minDigits) {
  char buffer[8];
  int n = 0;
  do {
    buffer[n++] = kHexDigits[value & 0x0F];
    value >>= 4;
  } while (value != 0);
  std::string out;
  for (int pad = n; pad < minDigits; ++pad) out.push_back('0');
  while (n > 0) out.push_back(buffer[--n]);
  return out;
}

void AppendDecimal(std::string& out, uint64_t value) {
  char buffer[20];
  int n = 0;
  do {
    buffer[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n > 0) out.push_back(buffer[--n]);
}

std::string Decimal(uint64_t value) {
  std::string out;
  AppendDecimal(out, value);
  return out;
}

std::string_view FlagText(uint32_t value, uint32_t mask) {
  return (value & mask) != 0 ? "1" : "0";
}

}  // namespace netvane
