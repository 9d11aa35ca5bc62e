#include <gtest/gtest.h>

#include <vector>

#include "decode/formatters.h"

namespace netvane {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(Formatters, ColonHex) {
  const struct {
    Bytes bytes;
    char separator;
    const char* text;
  } cases[] = {
      {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, ':', "FF:FF:FF:FF:FF:FF"},
      {{0x00, 0x0C, 0x29, 0x1A, 0x2B, 0x3C}, ':', "00:0C:29:1A:2B:3C"},
      {{0xab, 0x0f}, '-', "AB-0F"},
      {{0x05}, ':', "05"},
      {{}, ':', ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ColonHex(c.bytes, c.separator), c.text);
}

TEST(Formatters, DottedDecimalHasNoLeadingZeros) {
  const struct {
    Bytes bytes;
    const char* text;
  } cases[] = {
      {{10, 0, 0, 1}, "10.0.0.1"},
      {{192, 168, 100, 254}, "192.168.100.254"},
      {{0, 9, 10, 99}, "0.9.10.99"},
      {{100, 101, 200, 255}, "100.101.200.255"},
      {{7}, "7"},
      {{}, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(DottedDecimal(c.bytes, '.'), c.text);
}

TEST(Formatters, HexRunIsTwoUppercaseDigitsPerByte) {
  const struct {
    Bytes bytes;
    const char* text;
  } cases[] = {
      {{0x08, 0x00}, "0800"}, {{0x00, 0x12, 0xAB, 0xCD}, "0012ABCD"}, {{0xfe, 0xdc}, "FEDC"}, {{}, ""}};
  for (const auto& c : cases) EXPECT_EQ(HexRun(c.bytes), c.text);
}

TEST(Formatters, HexDigitsPadsToTheMinimumOnly) {
  const struct {
    uint32_t value;
    int digits;
    const char* text;
  } cases[] = {{4, 1, "4"},     {0, 1, "0"},       {0xF, 1, "F"},  {0xA, 2, "0A"},
               {0xAB, 1, "AB"}, {0xABC, 2, "ABC"}, {0, 4, "0000"}, {0xFFFFFFFF, 1, "FFFFFFFF"}};
  for (const auto& c : cases) EXPECT_EQ(HexDigits(c.value, c.digits), c.text) << c.value;
}

TEST(Formatters, Decimal) {
  const struct {
    uint64_t value;
    const char* text;
  } cases[] = {{0, "0"}, {7, "7"}, {10, "10"}, {65535, "65535"}, {4294967295u, "4294967295"}};
  for (const auto& c : cases) EXPECT_EQ(Decimal(c.value), c.text);
}

TEST(Formatters, FlagTextTestsAnyMaskBit) {
  const struct {
    uint32_t value, mask;
    const char* text;
  } cases[] = {{0x20, 0x20, "1"},     {0, 0x20, "0"},        {0xDF, 0x20, "0"},
               {0x4000, 0x4000, "1"}, {0x2000, 0x4000, "0"}, {0x0100, 0x0300, "1"}};
  for (const auto& c : cases) EXPECT_EQ(FlagText(c.value, c.mask), c.text) << c.value;
}

TEST(Formatters, DumpCharReplacesOnlyZero) {
  EXPECT_EQ(DumpChar(0x00), '.');
  EXPECT_EQ(DumpChar(0x2E), '.');
  EXPECT_EQ(DumpChar(0x41), 'A');
  EXPECT_EQ(DumpChar(0x0A), '\n');
  EXPECT_EQ(DumpChar(0xFF), '\xFF');
}

TEST(Formatters, AppendFormsKeepWhatIsThere) {
  std::string out = "x";
  const Bytes ip{1, 2, 3, 4};
  AppendColonHex(out, ip, ':');
  AppendDottedDecimal(out, ip, '.');
  AppendHexRun(out, ip);
  AppendDecimal(out, 42);
  EXPECT_EQ(out, "x01:02:03:041.2.3.40102030442");
}

}  // namespace
}  // namespace netvane
