#include "helper/ssh_connection.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "helper/port_number.h"

namespace netvane::helper {
namespace {

// sshd writes two addresses of at most 45 characters with zones, and two ports.
constexpr size_t kMaxText = 160;
constexpr size_t kMaxZone = 15;  // an interface name

bool ParseAddress(std::string_view text, Endpoint& end) {
  if (const size_t zone = text.find('%'); zone != std::string_view::npos) {
    const std::string_view name = text.substr(zone + 1);
    const bool plain = std::all_of(name.begin(), name.end(), [](char c) {
      return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
             c == '_' || c == '-';
    });
    if (name.empty() || name.size() > kMaxZone || !plain || text.find(':') == std::string_view::npos)
      return false;
    text = text.substr(0, zone);
  }
  if (text.empty() || text.size() >= INET6_ADDRSTRLEN) return false;
  char buffer[INET6_ADDRSTRLEN] = {};
  std::memcpy(buffer, text.data(), text.size());
  end.address.fill(0);
  if (inet_pton(AF_INET, buffer, end.address.data()) == 1) {
    end.family = 4;
    return true;
  }
  if (inet_pton(AF_INET6, buffer, end.address.data()) != 1) return false;
  end.family = 6;
  // An IPv4 client of an IPv6 socket: on the wire its frames are IPv4.
  static constexpr uint8_t kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  if (std::equal(kMapped, kMapped + 12, end.address.begin())) {
    std::copy(end.address.begin() + 12, end.address.end(), end.address.begin());
    std::fill(end.address.begin() + 4, end.address.end(), 0);
    end.family = 4;
  }
  return true;
}

}  // namespace

bool ParseSshConnection(std::string_view text, SshConnection& out) {
  if (text.empty() || text.size() > kMaxText) return false;
  std::vector<std::string_view> fields;
  for (size_t start = 0;;) {
    const size_t blank = text.find(' ', start);
    fields.push_back(
        text.substr(start, blank == std::string_view::npos ? std::string_view::npos : blank - start));
    if (blank == std::string_view::npos || fields.size() > 4) break;
    start = blank + 1;
  }
  SshConnection parsed;
  if (fields.size() != 4 || !ParseAddress(fields[0], parsed.client) ||
      !ParsePortNumber(fields[1], parsed.client.port) || !ParseAddress(fields[2], parsed.server) ||
      !ParsePortNumber(fields[3], parsed.server.port))
    return false;
  out = parsed;
  return true;
}

}  // namespace netvane::helper
