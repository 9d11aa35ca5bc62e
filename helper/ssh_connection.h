#pragma once
// The SSH connection a helper started by sshd runs over, as sshd describes it
// in SSH_CONNECTION: "CLIENT_ADDRESS CLIENT_PORT SERVER_ADDRESS SERVER_PORT".
// The helper reports it, checked, so that the driver can leave the
// connection's own frames out of the capture.

#include <string_view>

#include "helper/protocol.h"

namespace netvane::helper {

// Numeric IPv4 or IPv6 addresses (an IPv6 zone such as %eth0 is dropped, an
// IPv4-mapped IPv6 address becomes IPv4) and ports 1 to 65535, separated by
// single blanks, nothing else. False for anything else.
bool ParseSshConnection(std::string_view text, SshConnection& out);

}  // namespace netvane::helper
