#pragma once
// "Filter on this value": the expression of libpcap's filter language that
// picks the frames whose field holds the value a protocol-tree line shows,
// for the fields that have a primitive of their own:
//   Ethernet destination/source address  ether dst 02:00:00:00:00:0B
//   EtherType                            ether proto 0x0800
//   IP source/destination address        ip src 10.80.5.1
//   IP protocol                          ip proto 6
//   UDP/TCP source/destination port      udp dst port 53, tcp src port 80
// The field is found by where its line's highlight lies in its section's
// header, which the tree builds from the same description as the line.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "decode/protocol_tree.h"

namespace netvane {

// The expression for line `line` of `section` of the tree of `frame`; empty
// when the field has no primitive.
std::string FilterPrimitive(const Section& section, std::size_t line, std::span<const uint8_t> frame);

}  // namespace netvane
