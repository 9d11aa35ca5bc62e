#include "capture/adapter_scan.h"

#include <net/if.h>
#include <net/if_arp.h>
#include <pcap/pcap.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace netvane {
namespace {

// The hardware types that libpcap captures as Ethernet (DLT_EN10MB).
bool EthernetHardware(int type) {
  return type == ARPHRD_ETHER || type == ARPHRD_LOOPBACK || type == ARPHRD_METRICOM;
}

// The link type the adapter reports when opened, or -1 when it cannot be opened.
int ProbeLinkType(const char* name) {
  char errbuf[PCAP_ERRBUF_SIZE] = {};
  pcap_t* probe = pcap_create(name, errbuf);
  if (!probe) return -1;
  pcap_set_snaplen(probe, 64);
  pcap_set_buffer_size(probe, 64 * 1024);
  pcap_set_timeout(probe, 1);
  int dlt = -1;
  if (pcap_activate(probe) >= 0) dlt = pcap_datalink(probe);
  pcap_close(probe);
  return dlt;
}

helper::LinkKind KindWith(int fd, const std::string& name) {
  if (fd < 0 || name.size() >= IFNAMSIZ) return helper::LinkKind::Unknown;
  ifreq request{};
  std::memcpy(request.ifr_name, name.c_str(), name.size());
  // The same number as /sys/class/net/NAME/type, but asked of the network
  // namespace this process is in, whatever /sys shows.
  if (ioctl(fd, SIOCGIFHWADDR, &request) < 0) return helper::LinkKind::Unknown;
  return EthernetHardware(request.ifr_hwaddr.sa_family) ? helper::LinkKind::Ethernet
                                                        : helper::LinkKind::Other;
}

class QuerySocket {
 public:
  QuerySocket() : fd_(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
  ~QuerySocket() {
    if (fd_ >= 0) ::close(fd_);
  }
  QuerySocket(const QuerySocket&) = delete;
  QuerySocket& operator=(const QuerySocket&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

bool IsPseudoAdapterName(const std::string& name) {
  static const char* const exact[] = {"any", "nflog", "nfqueue", "bluetooth-monitor"};
  static const char* const prefixes[] = {"dbus-", "bluetooth", "usbmon"};
  for (const char* e : exact)
    if (name == e) return true;
  for (const char* p : prefixes)
    if (name.rfind(p, 0) == 0) return true;
  return false;
}

helper::LinkKind HardwareLinkKind(const std::string& name) {
  QuerySocket socket;
  return KindWith(socket.fd(), name);
}

bool ScanAdapters(bool probeUnknown, std::vector<helper::AdapterEntry>& out, std::string& error) {
  out.clear();
  char errbuf[PCAP_ERRBUF_SIZE] = {};
  pcap_if_t* devices = nullptr;
  if (pcap_findalldevs(&devices, errbuf) < 0) {
    error = errbuf;
    return false;
  }
  QuerySocket socket;
  for (pcap_if_t* d = devices; d; d = d->next) {
    if (!d->name) continue;
    const std::string name = d->name;
    if (name.empty() || name.size() > helper::kMaxAdapterName || IsPseudoAdapterName(name)) continue;
    helper::AdapterEntry entry;
    entry.name = name;
    entry.description = d->description ? d->description : name;
    entry.kind = KindWith(socket.fd(), name);
    if (entry.kind == helper::LinkKind::Unknown && probeUnknown) {
      const int dlt = ProbeLinkType(d->name);
      if (dlt >= 0) entry.kind = dlt == DLT_EN10MB ? helper::LinkKind::Ethernet : helper::LinkKind::Other;
    }
    out.push_back(std::move(entry));
  }
  pcap_freealldevs(devices);
  return true;
}

}  // namespace netvane
