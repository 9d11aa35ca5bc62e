#pragma once
// What the windows write of a conversation: its addresses as the packet list
// writes them (IPv6 in its shortest form), and the pcap-filter expression
// that takes its frames, for "Filter on this conversation" and "Filter on
// this stream".

#include <QString>

#include "decode/conversation_table.h"

namespace netvane {

QString AddressText(const ConversationEndpoint& e);
// The frames between the two endpoints at the layer of `kind`, in either
// direction: "ether host A and ether host B", "host A and host B",
// "ip6 host A and ip6 host B", "tcp and host A and port P and host B and port Q".
QString ConversationExpression(ConversationKind kind, const ConversationEndpoint& a,
                               const ConversationEndpoint& b);

}  // namespace netvane
