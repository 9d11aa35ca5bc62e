#include "pcapfile/storage_budget.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "pcapfile/frame_list.h"
#include "platform/mount_field.h"

namespace netvane {
namespace {

struct Hierarchy {
  bool v2 = false;
  std::string mountRoot;   // the part of the hierarchy that is mounted
  std::string mountPoint;  // where it is mounted
};

bool HasWord(const std::string& list, const std::string& word) {
  std::stringstream words(list);
  for (std::string w; std::getline(words, w, ',');)
    if (w == word) return true;
  return false;
}

// The memory hierarchies mounted here: v1 ones with the memory controller and
// the v2 one.
std::vector<Hierarchy> MountedHierarchies() {
  std::vector<Hierarchy> found;
  std::ifstream in("/proc/self/mountinfo");
  for (std::string line; std::getline(in, line);) {
    // id parent major:minor root mount-point options [optional...] - type source super-options
    std::istringstream fields(line);
    std::string id, parent, device, root, point, options, word;
    if (!(fields >> id >> parent >> device >> root >> point >> options)) continue;
    while (fields >> word && word != "-") {
    }
    std::string type, source, super;
    if (!(fields >> type >> source >> super)) continue;
    if (type == "cgroup2")
      found.push_back({true, UnescapeMountField(root), UnescapeMountField(point)});
    else if (type == "cgroup" && HasWord(super, "memory"))
      found.push_back({false, UnescapeMountField(root), UnescapeMountField(point)});
  }
  return found;
}

// The program's own cgroup in the v1 memory hierarchy and in the v2 one.
void OwnCgroups(std::string& v1, std::string& v2) {
  std::ifstream in("/proc/self/cgroup");
  for (std::string line; std::getline(in, line);) {
    // hierarchy-id:controllers:path
    const std::size_t first = line.find(':');
    const std::size_t second = line.find(':', first + 1);
    if (first == std::string::npos || second == std::string::npos) continue;
    const std::string id = line.substr(0, first);
    const std::string controllers = line.substr(first + 1, second - first - 1);
    const std::string path = line.substr(second + 1);
    if (id == "0" && controllers.empty())
      v2 = path;
    else if (HasWord(controllers, "memory"))
      v1 = path;
  }
}

// A limit file's value: a number of bytes, or "max" (v2) for none.
std::size_t ReadLimit(const std::string& file) {
  std::ifstream in(file);
  std::string text;
  if (!(in >> text) || text == "max") return SIZE_MAX;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
  if (end == text.c_str() || *end != '\0') return SIZE_MAX;
  return value > SIZE_MAX ? SIZE_MAX : static_cast<std::size_t>(value);
}

// The lowest limit from the program's cgroup up to the mounted root of the
// hierarchy: a parent's limit binds its children too.
std::size_t LowestLimitUpwards(const Hierarchy& h, const std::string& cgroup) {
  std::string relative = cgroup;
  // Without a cgroup namespace, the path may start with the mounted part's own path.
  if (h.mountRoot != "/" && relative.starts_with(h.mountRoot)) relative.erase(0, h.mountRoot.size());
  while (!relative.empty() && relative.back() == '/') relative.pop_back();
  const std::string file = h.v2 ? "memory.max" : "memory.limit_in_bytes";
  std::size_t lowest = SIZE_MAX;
  for (;;) {
    // The root of a hierarchy has no limit file of its own in v2; reading it is harmless.
    lowest = std::min(lowest, ReadLimit(h.mountPoint + relative + "/" + file));
    if (relative.empty()) break;
    relative.erase(relative.rfind('/'));
  }
  return lowest;
}

}  // namespace

std::size_t CgroupMemoryLimit() {
  std::string v1, v2;
  OwnCgroups(v1, v2);
  std::size_t lowest = SIZE_MAX;
  for (const Hierarchy& h : MountedHierarchies()) {
    const std::string& own = h.v2 ? v2 : v1;
    if (own.empty() || own[0] != '/') continue;
    lowest = std::min(lowest, LowestLimitUpwards(h, own));
  }
  return lowest;
}

std::size_t PhysicalMemory() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return SIZE_MAX;
  return static_cast<std::size_t>(pages) * static_cast<std::size_t>(pageSize);
}

std::size_t DefaultFrameBudget() {
  return std::min(PhysicalMemory(), CgroupMemoryLimit()) / 2;
}

std::string StorageFullText(std::size_t budget) {
  return "Frame storage is full (" + std::to_string(budget >> 20) +
         " MB): new frames are not listed. Stop and Start to clear it.";
}

std::string StorageStopText(const FrameList& frames) {
  switch (frames.Stopped()) {
    case FrameList::Stop::WriteError:
      return "Frame storage stopped: " + frames.StopError() +
             ". The frames stored before stay listed; new frames are not. Stop and Start to clear it.";
    case FrameList::Stop::Disk:
      return StorageFullText(frames.StoredBytes());
    default:
      return StorageFullText(frames.Budget());
  }
}

}  // namespace netvane
