#pragma once
// The kernel's mount tables (/proc/self/mounts, /proc/self/mountinfo) write
// blanks, tabs, newlines and backslashes in paths as three-digit octal
// escapes of their bytes.

#include <string>
#include <string_view>

namespace netvane {

// The path with each \ooo escape turned back into its byte; anything else,
// a backslash without three octal digits behind it included, stays as it is.
std::string UnescapeMountField(std::string_view field);

}  // namespace netvane
