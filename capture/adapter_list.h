#pragma once
// Adapter names as some capture libraries hand them over: one flat buffer of
// NUL-terminated names closed by an empty name, in 8-bit or 16-bit characters
// depending on the platform family. Kept free of any library call so the walk
// can be checked on every platform.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace netvane {

enum class AdapterListWidth { Narrow8, Wide16 };

// The character width for a platform version word: 8-bit only on the family
// whose word has its top bit set and whose major version (low byte) is 4 or more.
AdapterListWidth AdapterListWidthFor(uint32_t versionWord);

struct AdapterListLimits {
  size_t maxNames = 20;     // names beyond this are not taken
  size_t slotBytes = 1024;  // a name needs room for its characters plus a NUL
};

// Walks the list starting at `list`, reading at most `sizeBytes` bytes (the walk
// also ends at the first empty name). A name that would not fit a slot is left
// out rather than cut, since a truncated name opens nothing or the wrong adapter.
// 16-bit names are converted to the locale's 8-bit text.
std::vector<std::string> WalkAdapterList(const void* list, size_t sizeBytes, AdapterListWidth width,
                                         AdapterListLimits limits = {});

// "host a or host b ..." from "a,b,..."; empty for the empty list. Every ","
// becomes " or host ", blanks stay where they are.
std::string HostFilterExpression(const std::string& list);

}  // namespace netvane
