#pragma once
// The capture filter for the component's address list: its expression, and
// the instructions the capture helper attaches. Compiled here, in the
// process that holds no right.

#include <cstdint>
#include <string>
#include <vector>

#include "helper/filter_program.h"
#include "helper/protocol.h"

namespace netvane {

// "host a or host b ..." from "a,b,..."; empty for the empty list. Every ","
// becomes " or host ", blanks stay where they are.
std::string HostFilterExpression(const std::string& list);

// Frames that both expressions take; either may be empty or blank (all
// frames). Each is put in parentheses, so that an "or" in one cannot reach
// into the other; each must therefore compile on its own, or a ")" in one
// could close them.
std::string BothFilters(const std::string& first, const std::string& second);

// `expression` (all frames when empty) less the frames of `connection`, in
// both directions: only that TCP connection's, so that other connections
// between the same hosts, and to the same port, stay in.
std::string WithoutConnection(const std::string& expression, const helper::SshConnection& connection);

// Compiles `expression` for Ethernet frames cut to `snapLength` bytes, with
// optimisation off and the adapter's `netmask` (0xFFFFFFFF when unknown,
// which only broadcast-address expressions need). False, with the
// compiler's reason in `error`, when it does not compile or needs more
// instructions than the kernel attaches.
bool CompileFilter(const std::string& expression, int snapLength, uint32_t netmask,
                   std::vector<helper::FilterInstruction>& program, std::string& error);

}  // namespace netvane
