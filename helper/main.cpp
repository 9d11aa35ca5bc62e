// netvane-capture: the only Netvane program that holds a capture right
// (CAP_NET_RAW, from its file capabilities). The capture driver starts it with
// one end of a socket pair as its standard input and talks to it there; see
// helper/protocol.h. It opens Ethernet adapters, attaches the filters the
// driver has compiled, sends the frames and the kernel's counters, sends
// frames it is given, and ends as soon as the driver's end of the socket
// closes.
//
// It trusts nothing from its caller: the environment is cleared before
// anything else runs, inherited descriptors are closed, every right but
// CAP_NET_RAW is given up (root too becomes nobody), every request is
// checked, and it compiles nothing and looks up no names.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include "helper/privileges.h"
#include "helper/protocol.h"
#include "helper/serve.h"

namespace {

constexpr int kChannel = 0;

void CloseInheritedDescriptors() {
#ifdef SYS_close_range
  if (syscall(SYS_close_range, 3U, ~0U, 0U) == 0) return;
#endif
  for (int fd = 3; fd < 4096; ++fd) ::close(fd);
}

bool IsSocket(int fd) {
  struct stat st {};
  return fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode);
}

void Say(const std::string& text) {
  const std::string line = "netvane-capture: " + text + "\n";
  (void)!::write(2, line.data(), line.size());
}

}  // namespace

int main() {
  // Nothing from the caller's environment reaches the libraries below.
  clearenv();
  std::signal(SIGPIPE, SIG_IGN);
  CloseInheritedDescriptors();
  if (!IsSocket(kChannel)) {
    Say("started by Netvane's capture driver, not by hand");
    return 2;
  }
  std::string error;
  if (!netvane::helper::KeepOnlyCaptureRight(error)) {
    // Before anything is opened: the driver reads why, and so may a person.
    const std::string text = "cannot give up its rights safely (" + error + ")";
    Say(text);
    std::vector<uint8_t> failure;
    netvane::helper::AppendFailure(failure, "the capture helper " + text);
    (void)!::write(kChannel, failure.data(), failure.size());
    return 3;
  }
  if (fcntl(kChannel, F_SETFL, fcntl(kChannel, F_GETFL) | O_NONBLOCK) < 0) return 1;
  return netvane::helper::Serve(kChannel);
}
