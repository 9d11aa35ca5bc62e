// The component's own-address filter: the local host's IPv4 addresses as a
// filter list. Linux needs no socket-library start-up, so only the host-name
// read, the resolution and the address text remain.

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "capture/KelNetMonitor.h"

std::string TKelNetMonitor::get_LocalIPs() {
  std::string list;
  char hostName[256] = {};
  if (gethostname(hostName, 255) != 0) return list;
  hostName[255] = '\0';

  // The reentrant form keeps the resolver's order (as gethostbyname does)
  // without sharing its static result with other threads.
  hostent entry{};
  hostent* result = nullptr;
  int herr = 0;
  std::vector<char> buffer(1024);
  for (;;) {
    const int rc = gethostbyname_r(hostName, &entry, buffer.data(), buffer.size(), &result, &herr);
    if (rc == ERANGE && buffer.size() < (1u << 20)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (rc != 0) result = nullptr;
    break;
  }
  if (!result || result->h_addrtype != AF_INET || result->h_length < 4) return list;

  for (char** address = result->h_addr_list; address && *address; ++address) {
    in_addr ipv4{};
    std::memcpy(&ipv4, *address, 4);
    char text[INET_ADDRSTRLEN] = {};
    if (!inet_ntop(AF_INET, &ipv4, text, sizeof text)) continue;
    if (!list.empty()) list += ",";
    list += text;
  }
  return list;
}

uint32_t TKelNetMonitor::IPStringToAddr(const std::string& text) {
  if (text.empty()) return 0;
  return inet_addr(text.c_str());
}

void TKelNetMonitor::FilterLocalIP() {
  set_FilterIP(get_LocalIPs());
}
