// netvane-capture: the only Netvane program that holds a capture right
// (CAP_NET_RAW, from its file capabilities). The capture driver starts it with
// one end of a socket pair as its standard input and talks to it there; see
// helper/protocol.h. It opens Ethernet adapters, attaches the filters the
// driver has compiled, sends the frames and the kernel's counters, sends
// frames it is given, and ends as soon as the driver's end of the socket
// closes.
//
// For an adapter of another host the driver runs it there through SSH as
// "netvane-capture --ssh": requests come on standard input, messages go to
// standard output (pipes or sockets of sshd), and it ends as soon as either
// closes. It then also reports the connection sshd describes in
// SSH_CONNECTION, checked, so that the driver can leave that connection out.
//
// It trusts nothing from its caller: the environment is cleared before
// anything else runs (SSH_CONNECTION is copied first, and used only as that
// report), inherited descriptors are closed, every right but CAP_NET_RAW is
// given up (root too becomes nobody), every request is checked, and it
// compiles nothing and looks up no names.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "helper/privileges.h"
#include "helper/protocol.h"
#include "helper/serve.h"
#include "helper/ssh_connection.h"

namespace {

constexpr const char* kOverSsh = "--ssh";
// Longer than anything sshd writes there; a longer text is not sshd's.
constexpr size_t kMaxConnectionText = 256;

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

// What sshd gives a command's standard input and output.
bool IsPipeOrSocket(int fd) {
  struct stat st {};
  return fstat(fd, &st) == 0 && (S_ISSOCK(st.st_mode) || S_ISFIFO(st.st_mode));
}

bool NonBlocking(int fd) {
  return fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) == 0;
}

void Say(const std::string& text) {
  const std::string line = "netvane-capture: " + text + "\n";
  (void)!::write(2, line.data(), line.size());
}

}  // namespace

int main(int argc, char** argv) {
  const bool overSsh = argc == 2 && std::strcmp(argv[1], kOverSsh) == 0;
  std::string connectionText;
  if (const char* text = overSsh ? std::getenv("SSH_CONNECTION") : nullptr)
    connectionText.assign(text, strnlen(text, kMaxConnectionText + 1));
  // Nothing from the caller's environment reaches the libraries below.
  clearenv();
  std::signal(SIGPIPE, SIG_IGN);
  // The driver starts it in a process group of its own, in the background of
  // the caller's terminal, which a Ctrl-C there does not reach. What it says
  // on standard error must not stop it there either (stty tostop).
  std::signal(SIGTTOU, SIG_IGN);
  CloseInheritedDescriptors();
  const int in = 0;
  const int out = overSsh ? 1 : 0;
  const bool started = argc == 1 ? IsSocket(in) : overSsh && IsPipeOrSocket(in) && IsPipeOrSocket(out);
  if (!started) {
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
    (void)!::write(out, failure.data(), failure.size());
    return 3;
  }
  if (!NonBlocking(in) || !NonBlocking(out)) return 1;
  std::optional<netvane::helper::SshConnection> connection;
  if (netvane::helper::SshConnection parsed;
      overSsh && netvane::helper::ParseSshConnection(connectionText, parsed))
    connection = parsed;
  return netvane::helper::Serve(in, out, connection ? &*connection : nullptr);
}
