#pragma once
// Giving up every right but the one capture needs, before anything is opened.

#include <string>

namespace netvane::helper {

// Keeps CAP_NET_RAW, if the helper was given it, and nothing else: no other
// capability in any set, no ambient ones, no new privileges on exec, and the
// bounding set reduced to CAP_NET_RAW where the helper may change it. Started
// by root, it also becomes the user nobody and the group nogroup. Every step
// is checked, and the result is read back; false, with what failed in
// `error`, when any of it did not hold.
bool KeepOnlyCaptureRight(std::string& error);

}  // namespace netvane::helper
