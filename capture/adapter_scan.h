#pragma once
// The machine's capture adapters and whether their frames are Ethernet.
// libpcap and the C library only: the privileged helper lists adapters with
// this, and the driver falls back to it when the helper cannot run.

#include <string>
#include <vector>

#include "capture/helper_protocol.h"

namespace netvane {

// Names of capture pseudo-devices that never deliver Ethernet frames.
bool IsPseudoAdapterName(const std::string& name);

// The link kind the interface's hardware type gives (what the kernel reports
// for it), without opening it: Unknown when the system says nothing, e.g. for
// a capture device that is not a network interface.
helper::LinkKind HardwareLinkKind(const std::string& name);

// Every adapter the library lists, in its order, except pseudo-devices and
// names longer than the helper accepts. An adapter whose hardware type says
// nothing is opened to learn its link type when `probeUnknown` is set (that
// needs capture rights); otherwise, or when it cannot be opened, it stays
// Unknown. False, with the library's reason in `error`, when there is no list.
bool ScanAdapters(bool probeUnknown, std::vector<helper::AdapterEntry>& out, std::string& error);

}  // namespace netvane
