#pragma once
// The machine's capture adapters that the capture helper would open, in the
// capture library's order. Listing needs no right: nothing is opened.

#include <string>
#include <vector>

namespace netvane {

// The names of every Ethernet or loopback interface the library lists
// (the helper's own rule, helper/adapter_check.h). False, with the
// library's reason in `error`, when there is no list.
bool ScanEthernetAdapters(std::vector<std::string>& names, std::string& error);

}  // namespace netvane
