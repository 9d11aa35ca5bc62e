#pragma once
// Names of hosts reached over SSH and of their adapters:
// [USER@]HOST[:PORT] for a host, ssh://[USER@]HOST[:PORT]/ADAPTER for an
// adapter (an IPv6 address in brackets). They are checked strictly, since
// their parts become arguments of ssh: nothing that ssh could take for an
// option, and no character a shell would read.

#include <cstdint>
#include <string>
#include <string_view>

namespace netvane {

inline constexpr std::string_view kRemoteScheme = "ssh://";

struct RemoteTarget {
  std::string user;     // empty: ssh's own choice
  std::string host;     // a host name or a numeric address, without brackets
  uint16_t port = 0;    // 0: ssh's own choice
  std::string adapter;  // empty for a host alone

  // [USER@]HOST[:PORT], brackets around an IPv6 address.
  std::string HostText() const;
  // ssh://[USER@]HOST[:PORT]/ADAPTER
  std::string AdapterName() const;
  // How the adapter box shows it: "ADAPTER on [USER@]HOST[:PORT]".
  std::string Description() const;
};

// Starts with ssh:// (whether or not the rest is good).
bool IsRemoteName(std::string_view text);
// [USER@]HOST[:PORT], with or without ssh:// before it and a '/' after it.
// False, with why in `error`, when it is not one.
bool ParseRemoteHost(std::string_view text, RemoteTarget& out, std::string& error);
// ssh://[USER@]HOST[:PORT]/ADAPTER. False, with why in `error`, when it is not one.
bool ParseRemoteAdapter(std::string_view text, RemoteTarget& out, std::string& error);

}  // namespace netvane
