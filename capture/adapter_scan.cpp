#include "capture/adapter_scan.h"

#include <pcap/pcap.h>

#include "helper/adapter_check.h"

namespace netvane {

bool ScanEthernetAdapters(std::vector<std::string>& names, std::string& error) {
  names.clear();
  char errbuf[PCAP_ERRBUF_SIZE] = {};
  pcap_if_t* devices = nullptr;
  if (pcap_findalldevs(&devices, errbuf) < 0) {
    error = errbuf;
    return false;
  }
  const helper::AdapterChecker checker;
  for (const pcap_if_t* d = devices; d; d = d->next) {
    if (d->name && checker.Check(d->name).kind == helper::AdapterKind::Ethernet) names.push_back(d->name);
  }
  pcap_freealldevs(devices);
  return true;
}

}  // namespace netvane
