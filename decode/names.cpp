#include "decode/names.h"

#include <algorithm>
#include <array>
#include <utility>

namespace netvane {
namespace {

// Sorted by value for the binary search below.
constexpr std::array<std::pair<uint16_t, std::string_view>, 21> kEtherTypes{{
    {0x0800, "IP/"},
    {0x0801, "X.75 Internet"},
    {0x0802, "NBS Internet"},
    {0x0803, "ECMA Internet"},
    {0x0804, "CHAOSnet"},
    {0x0805, "X.25 Level 3"},
    {0x0806, "ARP"},
    {0x0807, "XNS Compatibility"},
    {0x0A00, "Xerox IEEE802.3 PUP"},
    {0x0A01, "Xerox IEEE802.3 PUP Address Translation"},
    {0x4242, "PCS Basic Block Protocol"},
    {0x8035, "Reverse Address Resolution Protocol (RARP)"},
    {0x8037, "IPX (Novell Netware?)"},
    {0x809B, "EtherTalk (AppleTalk over Ethernet)"},
    {0x80D5, "IBM SNA Services over Ethernet"},
    {0x80F3, "AppleTalk Address Resolution Protocol (AARP)"},
    {0x8137, "Novell (old) NetWare IPX (ECONFIG E option)"},
    {0x814C, "SNMP over Ethernet (see RFC1089)"},
    {0x8191, "PowerLANNetBIOS/NetBEUI (PC)"},
    {0x86DD, "IP version 6"},
    {0x8870, "Jumbo Packets"},
}};

static_assert(std::is_sorted(kEtherTypes.begin(), kEtherTypes.end(),
                             [](const auto& a, const auto& b) { return a.first < b.first; }));

// Indexed by protocol number; unlisted numbers hold four blanks.
constexpr std::array<std::string_view, 256> MakeIpProtocolTable() {
  std::array<std::string_view, 256> table{};
  for (auto& name : table) name = "    ";
  table[1] = "ICMP";
  table[2] = "IGMP";
  table[6] = "TCP";
  table[9] = "IGRP";
  table[17] = "UDP";
  table[47] = "GRE";
  table[50] = "ESP";
  table[51] = "AH";
  table[57] = "SKIP";
  table[88] = "EIGRP";
  table[89] = "OSPF";
  table[115] = "L2TP";
  return table;
}

constexpr std::array<std::string_view, 256> kIpProtocols = MakeIpProtocolTable();

}  // namespace

std::string_view EtherTypeName(uint16_t value) {
  if (value >= 257 && value <= 511) return "Experimental";
  if (value <= 1500) return "IEEE802.3";
  auto it = std::lower_bound(kEtherTypes.begin(), kEtherTypes.end(), value,
                             [](const auto& entry, uint16_t v) { return entry.first < v; });
  if (it != kEtherTypes.end() && it->first == value) return it->second;
  return "Unknown";
}

std::string_view IpProtocolName(uint8_t value) {
  return kIpProtocols[value];
}

}  // namespace netvane
