#include "helper/privileges.h"

#include <grp.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace netvane::helper {
namespace {

// Debian's user nobody and group nogroup, by number: no user database and no
// name-service module is consulted with a right held.
constexpr uid_t kNobody = 65534;
constexpr gid_t kNoGroup = 65534;

constexpr uint32_t kCaptureRight = 1u << CAP_NET_RAW;

struct Capabilities {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
};

std::string Failed(const char* step) {
  return std::string(step) + ": " + std::strerror(errno);
}

bool Read(Capabilities& caps, std::string& error) {
  if (syscall(SYS_capget, &caps.header, caps.data) == 0) return true;
  error = Failed("capget");
  return false;
}

bool Holds(const Capabilities& caps, int capability) {
  return caps.data[capability / 32].effective & (1u << (capability % 32));
}

// Every capability but CAP_NET_RAW leaves the bounding set; this needs
// CAP_SETPCAP, which only a helper started by root has.
bool DropBoundingSet(std::string& error) {
  for (int capability = 0;; ++capability) {
    const int inSet = prctl(PR_CAPBSET_READ, capability, 0, 0, 0);
    if (inSet < 0) {
      if (errno == EINVAL) return true;  // past the last capability the kernel knows
      error = Failed("prctl(PR_CAPBSET_READ)");
      return false;
    }
    if (capability == CAP_NET_RAW || inSet == 0) continue;
    if (prctl(PR_CAPBSET_DROP, capability, 0, 0, 0) != 0) {
      error = Failed("prctl(PR_CAPBSET_DROP)");
      return false;
    }
  }
}

// From root to nobody:nogroup with no supplementary group, keeping the
// permitted capabilities across the change so CAP_NET_RAW can stay.
bool LeaveRoot(std::string& error) {
  if (prctl(PR_SET_KEEPCAPS, 1, 0, 0, 0) != 0) {
    error = Failed("prctl(PR_SET_KEEPCAPS)");
    return false;
  }
  if (setgroups(0, nullptr) != 0) {
    error = Failed("setgroups");
    return false;
  }
  if (setresgid(kNoGroup, kNoGroup, kNoGroup) != 0) {
    error = Failed("setresgid");
    return false;
  }
  if (setresuid(kNobody, kNobody, kNobody) != 0) {
    error = Failed("setresuid");
    return false;
  }
  if (prctl(PR_SET_KEEPCAPS, 0, 0, 0, 0) != 0) {
    error = Failed("prctl(PR_SET_KEEPCAPS)");
    return false;
  }
  return true;
}

bool AnyUserIdIsRoot() {
  uid_t real = 0, effective = 0, saved = 0;
  getresuid(&real, &effective, &saved);
  return real == 0 || effective == 0 || saved == 0;
}

bool AllIdsAre(uid_t user, gid_t group) {
  uid_t real = 0, effective = 0, saved = 0;
  gid_t greal = 0, geffective = 0, gsaved = 0;
  getresuid(&real, &effective, &saved);
  getresgid(&greal, &geffective, &gsaved);
  return real == user && effective == user && saved == user && greal == group && geffective == group &&
         gsaved == group && getgroups(0, nullptr) == 0;
}

}  // namespace

bool KeepOnlyCaptureRight(std::string& error) {
  Capabilities caps;
  if (!Read(caps, error)) return false;
  const uint32_t keep = caps.data[0].permitted & kCaptureRight;
  const bool root = AnyUserIdIsRoot();

  if (Holds(caps, CAP_SETPCAP) && !DropBoundingSet(error)) return false;
  if (root && !LeaveRoot(error)) return false;

  Capabilities wanted;
  wanted.data[0].effective = keep;
  wanted.data[0].permitted = keep;
  if (syscall(SYS_capset, &wanted.header, wanted.data) != 0) {
    error = Failed("capset");
    return false;
  }
  if (prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0 && errno != EINVAL) {
    error = Failed("prctl(PR_CAP_AMBIENT_CLEAR_ALL)");
    return false;
  }
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
    error = Failed("prctl(PR_SET_NO_NEW_PRIVS)");
    return false;
  }

  // Read back what holds now.
  Capabilities now;
  if (!Read(now, error)) return false;
  for (int i = 0; i < _LINUX_CAPABILITY_U32S_3; ++i) {
    const uint32_t expected = i == 0 ? keep : 0;
    if (now.data[i].effective != expected || now.data[i].permitted != expected ||
        now.data[i].inheritable != 0) {
      error = "capabilities other than CAP_NET_RAW remain";
      return false;
    }
  }
  if (root && !AllIdsAre(kNobody, kNoGroup)) {
    error = "still root after giving it up";
    return false;
  }
  return true;
}

}  // namespace netvane::helper
