#include "capture/helper_link.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <thread>

namespace netvane {
namespace {

constexpr const char* kHelperName = "netvane-capture";

std::filesystem::path OwnDirectory() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : exe.parent_path();
}

}  // namespace

std::string CaptureHelperPath() {
  const std::filesystem::path relative = std::filesystem::path("libexec") / "netvane" / kHelperName;
  return (OwnDirectory() / ".." / relative).lexically_normal().string();
}

bool LocalHelperLink::Start(std::string& error) {
  End(kHelperExitGrace);
  path_ = CaptureHelperPath();
  int sv[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) {
    error = std::string("could not start the capture helper: ") + std::strerror(errno);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, sv[1], 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_t attr;
  PrepareSpawn(attr);
  std::string name = kHelperName;
  char* argv[] = {name.data(), nullptr};
  char* envp[] = {nullptr};
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, path_.c_str(), &actions, &attr, argv, envp);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  ::close(sv[1]);
  if (rc != 0) {
    ::close(sv[0]);
    if (rc == EACCES || rc == EPERM)
      error = std::string("not allowed to capture: ask an administrator to add you to the group ") +
              kCaptureGroup + ", then log in again";
    else if (rc == ENOENT)
      error = "the capture helper " + path_ + " is missing: install Netvane again";
    else
      error = "could not start the capture helper " + path_ + ": " + std::strerror(rc);
    return false;
  }
  fd_ = sv[0];
  pid_ = pid;
  ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
  return true;
}

void LocalHelperLink::End(std::chrono::milliseconds grace) {
  if (fd_ >= 0) ::close(fd_);  // the helper sees its end close and ends
  fd_ = -1;
  if (pid_ > 0) ReapChild(pid_, grace);
  pid_ = -1;
}

void PrepareSpawn(posix_spawnattr_t& attr) {
  posix_spawnattr_init(&attr);
  sigset_t none;
  sigset_t all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setpgroup(&attr, 0);  // a group of its own, led by the child
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
}

int ReapChild(pid_t pid, std::chrono::milliseconds grace) {
  const auto deadline = std::chrono::steady_clock::now() + grace;
  int status = 0;
  for (;;) {
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (done < 0 && errno != EINTR) return -1;
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ::kill(pid, SIGKILL);
  while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
  return -1;
}

ssize_t LocalHelperLink::Write(const uint8_t* bytes, size_t size) {
  return ::send(fd_, bytes, size, MSG_NOSIGNAL | MSG_DONTWAIT);
}

}  // namespace netvane
