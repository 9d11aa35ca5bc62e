#pragma once
// The spool: the pcap file of the window's own that live frames are written
// to, so that memory holds only where each one lies. It is made in the user's
// cache directory ($XDG_CACHE_HOME/netvane or ~/.cache/netvane), or, where that
// cannot be made, in a directory of the user's own under the temporary
// directory; mode 0600. Its name is removed as soon as it is open, so the file
// goes with its descriptor at Clear and however the program ends.

#include <cstdint>
#include <string>

namespace netvane {

// Creates a spool file in `directory`, or in the default places when it is
// empty, open for reading and writing. Returns the descriptor and sets `path`
// to the name it had; -1 with the reason in `error`.
int CreateSpool(const std::string& directory, std::string& path, std::string& error);

// Removes spool files of the default places whose names a program that ended
// at the wrong moment left behind.
void RemoveStaleSpools();

// Bytes a spool on the file system of `fd` may still grow by: its free space
// less the larger of 1 GiB and 5% of the file system; 0 when it cannot be read.
uint64_t SpoolRoom(int fd);

}  // namespace netvane
