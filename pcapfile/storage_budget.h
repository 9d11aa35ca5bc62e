#pragma once
// How much memory the main window's frame list may take for its index (the
// frames themselves are on disk): the smaller of half the machine's physical
// memory and half the memory limit of the cgroups the program runs in. Half
// leaves room for the rest of the program and for the desktop, so a capture of
// countless tiny frames stops storing instead of being killed by the kernel.
// And the messages that say storing has stopped.

#include <cstddef>
#include <string>

namespace netvane {

class FrameList;

// The lowest memory limit of the program's cgroups (v1 memory.limit_in_bytes,
// v2 memory.max) along the path from its own cgroup up to the hierarchy's
// root; SIZE_MAX when there is none or it cannot be read.
std::size_t CgroupMemoryLimit();

// Physical memory in bytes; SIZE_MAX when unknown.
std::size_t PhysicalMemory();

// The frame list's default budget.
std::size_t DefaultFrameBudget();

// The message shown once when the list is full.
std::string StorageFullText(std::size_t budget);
// The message shown once when `frames` has stopped storing: full (its memory
// budget or its spool's file system), or a write to the spool failed.
std::string StorageStopText(const FrameList& frames);

}  // namespace netvane
