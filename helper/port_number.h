#pragma once
// A TCP port written as text, as an ssh:// name gives it and as sshd writes
// it in SSH_CONNECTION: both end up as numbers in ssh's arguments or in a
// compiled filter, so only plain decimal digits are taken.

#include <cstdint>
#include <string_view>

namespace netvane::helper {

// 1 to 5 decimal digits worth 1 to 65535, nothing else (no sign, no blank).
// False for any other text, and `port` is then left as it was.
bool ParsePortNumber(std::string_view text, uint16_t& port);

}  // namespace netvane::helper
