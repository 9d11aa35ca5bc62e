#include "helper/adapter_check.h"

#include <net/if.h>
#include <net/if_arp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace netvane::helper {
namespace {

// Names the capture library hands to one of its other modules (USB, Bluetooth,
// the message bus, netfilter queues, every interface at once) whatever
// interface may carry the name: such a name is never opened.
bool LibraryDeviceName(const std::string& name) {
  for (const char* exact : {"any", "nflog", "nfqueue", "bluetooth-monitor"})
    if (name == exact) return true;
  for (const char* prefix : {"dbus-", "bluetooth", "usbmon"})
    if (name.rfind(prefix, 0) == 0) return true;
  return false;
}

// The hardware type as `ip link` names it, with its number.
std::string HardwareTypeText(int type) {
  const char* name = nullptr;
  switch (type) {
    case ARPHRD_NONE:
      name = "none";
      break;
    case ARPHRD_PPP:
      name = "ppp";
      break;
    case ARPHRD_TUNNEL:
      name = "ipip";
      break;
    case ARPHRD_TUNNEL6:
      name = "tunnel6";
      break;
    case ARPHRD_SIT:
      name = "sit";
      break;
    case ARPHRD_IPGRE:
      name = "gre";
      break;
    case ARPHRD_CAN:
      name = "can";
      break;
    case ARPHRD_INFINIBAND:
      name = "infiniband";
      break;
    case ARPHRD_IEEE80211:
      name = "ieee802.11";
      break;
    case ARPHRD_IEEE80211_RADIOTAP:
      name = "ieee802.11/radiotap";
      break;
    case ARPHRD_VOID:
      name = "void";
      break;
    default:
      break;
  }
  return name ? std::string(name) + " (" + std::to_string(type) + ")" : std::to_string(type);
}

}  // namespace

AdapterChecker::AdapterChecker() : fd_(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}

AdapterChecker::~AdapterChecker() {
  if (fd_ >= 0) ::close(fd_);
}

AdapterCheck AdapterChecker::Check(const std::string& name) const {
  if (LibraryDeviceName(name))
    return {AdapterKind::NotEthernet, "it is a device of the capture library, not a network interface"};
  if (name.empty() || name.size() >= IFNAMSIZ) return {AdapterKind::Missing, "no such network interface"};
  if (fd_ < 0) return {AdapterKind::Missing, "cannot ask the system for its interfaces"};
  ifreq request{};
  std::memcpy(request.ifr_name, name.c_str(), name.size());
  if (::ioctl(fd_, SIOCGIFHWADDR, &request) < 0) {
    if (errno == ENODEV) return {AdapterKind::Missing, "no such network interface"};
    return {AdapterKind::Missing, std::strerror(errno)};
  }
  const int type = request.ifr_hwaddr.sa_family;
  // The two hardware types the capture library delivers as Ethernet frames.
  if (type == ARPHRD_ETHER || type == ARPHRD_LOOPBACK) return {AdapterKind::Ethernet, {}};
  return {AdapterKind::NotEthernet, "its hardware type is " + HardwareTypeText(type) + ", not Ethernet"};
}

std::vector<std::string> AdapterChecker::EthernetInterfaces() const {
  std::vector<std::string> names;
  struct if_nameindex* all = if_nameindex();
  if (all == nullptr) return names;
  for (const struct if_nameindex* i = all; i->if_index != 0 && i->if_name != nullptr; ++i)
    if (Check(i->if_name).kind == AdapterKind::Ethernet) names.emplace_back(i->if_name);
  if_freenameindex(all);
  return names;
}

}  // namespace netvane::helper
