#include <gtest/gtest.h>

#include <set>
#include <string>

#include "decode/names.h"

namespace netvane {
namespace {

TEST(EtherTypeName, RangesAndListedValues) {
  const struct {
    uint32_t value;
    const char* name;
  } cases[] = {
      {0, "IEEE802.3"},
      {46, "IEEE802.3"},
      {256, "IEEE802.3"},
      {257, "Experimental"},
      {300, "Experimental"},
      {511, "Experimental"},
      {512, "IEEE802.3"},
      {1500, "IEEE802.3"},
      {1501, "Unknown"},
      {1535, "Unknown"},
      {0x0600, "Unknown"},
      {0x0800, "IP/"},
      {0x0801, "X.75 Internet"},
      {0x0806, "ARP"},
      {0x0807, "XNS Compatibility"},
      {0x0808, "Unknown"},
      {0x0A00, "Xerox IEEE802.3 PUP"},
      {0x0A01, "Xerox IEEE802.3 PUP Address Translation"},
      {0x8035, "Reverse Address Resolution Protocol (RARP)"},
      {0x8037, "IPX (Novell Netware?)"},
      {0x8191, "PowerLANNetBIOS/NetBEUI (PC)"},
      {0x86DD, "IP version 6"},
      {0x8100, "Unknown"},
      {0x8870, "Jumbo Packets"},
      {0x8871, "Unknown"},
      {0xFFFF, "Unknown"},
  };
  for (const auto& c : cases) EXPECT_EQ(EtherTypeName(static_cast<uint16_t>(c.value)), c.name) << c.value;
}

// Over every value: the ranges hold exactly, and above 1500 exactly the 21
// listed types have names of their own.
TEST(EtherTypeName, EveryValueFollowsTheRangeOrder) {
  int listed = 0;
  for (uint32_t v = 0; v <= 0xFFFF; ++v) {
    const std::string_view name = EtherTypeName(static_cast<uint16_t>(v));
    if (v >= 257 && v <= 511) {
      ASSERT_EQ(name, "Experimental") << v;
    } else if (v <= 1500) {
      ASSERT_EQ(name, "IEEE802.3") << v;
    } else {
      ASSERT_NE(name, "Experimental") << v;
      ASSERT_NE(name, "IEEE802.3") << v;
      if (name != "Unknown") ++listed;
    }
  }
  EXPECT_EQ(listed, 21);
}

TEST(IpProtocolName, ListedNumbersAndFourBlankFallback) {
  const struct {
    int value;
    const char* name;
  } cases[] = {{0, "    "},   {1, "ICMP"},  {2, "IGMP"},   {3, "    "},   {6, "TCP"},   {9, "IGRP"},
               {17, "UDP"},   {41, "    "}, {47, "GRE"},   {50, "ESP"},   {51, "AH"},   {57, "SKIP"},
               {88, "EIGRP"}, {89, "OSPF"}, {115, "L2TP"}, {116, "    "}, {255, "    "}};
  for (const auto& c : cases) EXPECT_EQ(IpProtocolName(static_cast<uint8_t>(c.value)), c.name) << c.value;
}

TEST(IpProtocolName, ExactlyTwelveNumbersHaveNames) {
  std::set<int> named;
  for (int v = 0; v < 256; ++v)
    if (IpProtocolName(static_cast<uint8_t>(v)) != "    ") named.insert(v);
  EXPECT_EQ(named, (std::set<int>{1, 2, 6, 9, 17, 47, 50, 51, 57, 88, 89, 115}));
}

}  // namespace
}  // namespace netvane
