#include "app/conversation_text.h"

#include <arpa/inet.h>

#include <span>
#include <string>

#include "decode/formatters.h"

namespace netvane {

QString AddressText(const ConversationEndpoint& e) {
  const std::span<const uint8_t> address(e.address.data(), e.addressLength);
  std::string text;
  if (e.addressLength == 6) {
    AppendColonHex(text, address);
  } else if (e.addressLength == 4) {
    AppendDottedDecimal(text, address);
  } else {
    char v6[INET6_ADDRSTRLEN] = {};
    if (inet_ntop(AF_INET6, e.address.data(), v6, sizeof v6) != nullptr) text = v6;
  }
  return QString::fromLatin1(text.c_str());
}

QString ConversationExpression(ConversationKind kind, const ConversationEndpoint& a,
                               const ConversationEndpoint& b) {
  switch (kind) {
    case ConversationKind::Ethernet:
      // libpcap reads hardware addresses in either case; lower case is how tcpdump writes them.
      return QStringLiteral("ether host %1 and ether host %2")
          .arg(AddressText(a).toLower(), AddressText(b).toLower());
    case ConversationKind::Ipv4:
      return QStringLiteral("host %1 and host %2").arg(AddressText(a), AddressText(b));
    case ConversationKind::Ipv6:
      return QStringLiteral("ip6 host %1 and ip6 host %2").arg(AddressText(a), AddressText(b));
    case ConversationKind::Tcp:
    case ConversationKind::Udp:
      break;
  }
  return QStringLiteral("%1 and host %2 and port %3 and host %4 and port %5")
      .arg(kind == ConversationKind::Tcp ? QStringLiteral("tcp") : QStringLiteral("udp"), AddressText(a))
      .arg(a.port)
      .arg(AddressText(b))
      .arg(b.port);
}

}  // namespace netvane
