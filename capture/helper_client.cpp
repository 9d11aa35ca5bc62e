#include "capture/helper_client.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

namespace netvane {
namespace {

constexpr auto kAnswerTime = std::chrono::milliseconds(kHelperAnswerMs);
// A helper whose socket closed ends at once; one that does not is killed.
constexpr auto kExitTime = std::chrono::milliseconds(200);
constexpr size_t kReadChunk = 256 * 1024;
constexpr const char* kHelperName = "netvane-capture";

std::filesystem::path OwnDirectory() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : exe.parent_path();
}

int RemainingMs(std::chrono::steady_clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

std::string CaptureHelperPath() {
  const std::filesystem::path relative = std::filesystem::path("libexec") / "netvane" / kHelperName;
  return (OwnDirectory() / ".." / relative).lexically_normal().string();
}

bool CaptureHelperClient::Start(std::string& error) {
  Stop();
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
  posix_spawnattr_init(&attr);
  // The helper starts with default signal handling and nothing blocked,
  // whatever this program's threads have set.
  sigset_t none;
  sigset_t all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
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

void CaptureHelperClient::Stop() {
  End(kExitTime);
}

void CaptureHelperClient::Kill() {
  End(std::chrono::milliseconds(0));
}

void CaptureHelperClient::End(std::chrono::milliseconds grace) {
  if (fd_ >= 0) ::close(fd_);  // the helper sees its end close and ends
  fd_ = -1;
  inbox_.Clear();
  if (pid_ <= 0) return;
  const auto deadline = std::chrono::steady_clock::now() + grace;
  while (::waitpid(pid_, nullptr, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(pid_, SIGKILL);
      while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
      }
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  pid_ = -1;
}

CaptureHelperClient::ReadResult CaptureHelperClient::Receive() {
  if (fd_ < 0) return ReadResult::Gone;
  for (;;) {
    const ssize_t n = ::recv(fd_, inbox_.Space(kReadChunk), kReadChunk, MSG_DONTWAIT);
    if (n > 0) {
      inbox_.Commit(static_cast<size_t>(n));
      return ReadResult::Data;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return ReadResult::Nothing;
    return ReadResult::Gone;
  }
}

bool CaptureHelperClient::Call(const helper::Request& request, helper::Reply& reply, std::string& error,
                               const MessageSink& sink) {
  if (fd_ < 0) {
    error = "the capture helper is not running";
    return false;
  }
  const std::vector<uint8_t> bytes = helper::EncodeRequest(request);
  size_t sent = 0;
  const auto deadline = std::chrono::steady_clock::now() + kAnswerTime;
  std::string reason;  // what the helper said when it failed, if it did
  auto broken = [&](const std::string& why) {
    error = reason.empty() ? why : why + ": " + reason;
    Kill();
    return false;
  };
  bool gone = false;  // the helper has ended; what it sent first is still taken
  for (;;) {
    // Whatever has arrived comes first: frames before the reply, then the reply.
    uint16_t type = 0;
    std::span<const uint8_t> payload;
    for (;;) {
      const helper::Inbox::Next next = inbox_.Pop(type, payload);
      if (next == helper::Inbox::Next::NeedMore) break;
      if (next == helper::Inbox::Next::Oversized)
        return broken("the capture helper sent a malformed message");
      const auto kind = static_cast<helper::MessageType>(type);
      if (kind != helper::MessageType::Reply) {
        if (kind == helper::MessageType::Failure) reason.assign(payload.begin(), payload.end());
        if (sink) sink(kind, payload);
        continue;
      }
      if (sent < bytes.size()) continue;  // cannot answer what was not asked yet
      if (!helper::ParseReply(payload, reply) || reply.request != request.type)
        return broken("the capture helper sent a malformed reply");
      return true;
    }
    if (gone) return broken("the capture helper ended");
    pollfd pfd{fd_, static_cast<short>(POLLIN | (sent < bytes.size() ? POLLOUT : 0)), 0};
    const int ready = ::poll(&pfd, 1, RemainingMs(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0)
      return broken("the capture helper did not answer within " + std::to_string(kHelperAnswerMs / 1000) +
                    " s");
    if (sent < bytes.size() && (pfd.revents & POLLOUT)) {
      const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0)
        sent += static_cast<size_t>(n);
      else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
        gone = true;
    }
    if (gone || (pfd.revents & (POLLIN | POLLHUP | POLLERR))) {
      ReadResult got;
      while ((got = Receive()) == ReadResult::Data && gone) {
      }
      if (got == ReadResult::Gone) gone = true;
    }
  }
}

}  // namespace netvane
