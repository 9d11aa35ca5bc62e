#include "pcapfile/spool.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace netvane {
namespace {

constexpr const char* kPrefix = "spool-";
constexpr const char* kSuffix = ".pcap";

// A directory of the user's own: made with mode 0700 where missing, and
// refused when it is a link or belongs to someone else (the temporary
// directory is shared).
bool OwnDirectory(const std::string& path, std::string& error) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    error = "cannot make " + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
    error = path + " is not a directory of this user's";
    return false;
  }
  return true;
}

std::string Environment(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr && v[0] == '/' ? std::string(v) : std::string();
}

// The default places, in the order they are tried.
std::vector<std::string> DefaultDirectories() {
  std::vector<std::string> out;
  std::string cache = Environment("XDG_CACHE_HOME");
  if (cache.empty() && !Environment("HOME").empty()) cache = Environment("HOME") + "/.cache";
  if (!cache.empty()) out.push_back(cache + "/netvane");
  std::string temp = Environment("TMPDIR");
  if (temp.empty()) temp = "/tmp";
  out.push_back(temp + "/netvane-" + std::to_string(::geteuid()));
  return out;
}

int CreateIn(const std::string& directory, std::string& path, std::string& error) {
  // The cache directory itself may not exist yet.
  const std::size_t slash = directory.rfind('/');
  if (slash != std::string::npos && slash > 0) ::mkdir(directory.substr(0, slash).c_str(), 0700);
  if (!OwnDirectory(directory, error)) return -1;
  static std::atomic<unsigned> serial{0};
  path = directory + "/" + kPrefix + std::to_string(::getpid()) + "-" + std::to_string(serial++) + kSuffix;
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    error = "cannot create " + path + ": " + std::strerror(errno);
    return -1;
  }
  ::unlink(path.c_str());
  return fd;
}

}  // namespace

int CreateSpool(const std::string& directory, std::string& path, std::string& error) {
  if (!directory.empty()) return CreateIn(directory, path, error);
  std::string first;
  for (const std::string& d : DefaultDirectories()) {
    const int fd = CreateIn(d, path, error);
    if (fd >= 0) return fd;
    if (first.empty()) first = error;
  }
  error = first;
  return -1;
}

void RemoveStaleSpools() {
  for (const std::string& d : DefaultDirectories()) {
    DIR* dir = ::opendir(d.c_str());
    if (dir == nullptr) continue;
    while (const dirent* e = ::readdir(dir)) {
      const std::string name = e->d_name;
      if (!name.starts_with(kPrefix) || !name.ends_with(kSuffix)) continue;
      struct stat st {};
      const std::string path = d + "/" + name;
      if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid())
        ::unlink(path.c_str());
    }
    ::closedir(dir);
  }
}

uint64_t SpoolRoom(int fd) {
  struct statvfs fs {};
  if (::fstatvfs(fd, &fs) != 0) return 0;
  const uint64_t unit = fs.f_frsize != 0 ? fs.f_frsize : fs.f_bsize;
  const uint64_t free = uint64_t{fs.f_bavail} * unit;
  const uint64_t reserve = std::max(uint64_t{1} << 30, uint64_t{fs.f_blocks} * unit / 20);
  return free > reserve ? free - reserve : 0;
}

}  // namespace netvane
