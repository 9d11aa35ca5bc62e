#pragma once
// Names shown for the EtherType field of the Ethernet header and for the
// protocol number of the IPv4 header.

#include <cstdint>
#include <string_view>

namespace netvane {

inline constexpr uint16_t kEtherTypeIp = 0x0800;
inline constexpr uint16_t kEtherTypeArp = 0x0806;
inline constexpr uint8_t kIpProtocolTcp = 6;
inline constexpr uint8_t kIpProtocolUdp = 17;

// 257..511 "Experimental"; other values up to 1500 are 802.3 lengths
// ("IEEE802.3"); above that the listed types, else "Unknown".
// 0x0800 reads "IP/" so that the row can append the IP protocol name.
std::string_view EtherTypeName(uint16_t value);

// Listed protocols by name; any other number gives four blanks.
std::string_view IpProtocolName(uint8_t value);

}  // namespace netvane
