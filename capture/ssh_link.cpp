#include "capture/ssh_link.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "capture/helper_client.h"

extern char** environ;

namespace netvane {
namespace {

// What ssh says on standard error is read back from its end, this much at most.
constexpr off_t kErrorTail = 4096;
// ssh's pipe to us: room for a burst of frames while this side is busy.
constexpr int kPipeBytes = 1 << 20;
// Exit statuses: ssh's own failure, and the remote shell's for a command it
// cannot find or may not run.
constexpr int kSshFailed = 255;
constexpr int kNotFound = 127;
constexpr int kNotPermitted = 126;

// A word for the remote user's shell: quoted, so it stays one word.
std::string ShellQuoted(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string RemoteHelperPath() {
  const char* path = std::getenv("NETVANE_REMOTE_HELPER");
  return path != nullptr && *path != '\0' ? std::string(path) : std::string(kRemoteHelperPath);
}

void Close(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

SshHelperLink::SshHelperLink(RemoteTarget target) : target_(std::move(target)) {
  name_ = RemoteHelperPath() + " on " + target_.HostText();
  // A value that cannot be used leaves plain ssh's settings, and Start says why.
  if (SshCommandFromEnvironment(ssh_, sshError_)) sshError_.clear();
}

SshHelperLink::~SshHelperLink() {
  End(kHelperExitGrace);
  Close(err_);
}

std::vector<std::string> SshHelperLink::Command() const {
  std::vector<std::string> command = ssh_.words;
  // No terminal, no prompt, nothing forwarded; a connection that goes
  // silent is given up after about as long as a new one may take to connect.
  const std::vector<std::string> options = {"-T",
                                            "-a",
                                            "-x",
                                            "-o",
                                            "BatchMode=yes",
                                            "-o",
                                            "ConnectTimeout=" + std::to_string(ssh_.connectTimeoutS),
                                            "-o",
                                            "ClearAllForwardings=yes",
                                            "-o",
                                            "ServerAliveInterval=2",
                                            "-o",
                                            "ServerAliveCountMax=2"};
  command.insert(command.end(), options.begin(), options.end());
  if (target_.port != 0) {
    command.push_back("-p");
    command.push_back(std::to_string(target_.port));
  }
  if (!target_.user.empty()) {
    command.push_back("-l");
    command.push_back(target_.user);
  }
  command.push_back("--");
  command.push_back(target_.host);
  command.push_back(ShellQuoted(RemoteHelperPath()) + " --ssh");
  return command;
}

std::chrono::milliseconds SshHelperLink::AnswerTime() const {
  return std::chrono::seconds(ssh_.connectTimeoutS + 1);
}

bool SshHelperLink::Start(std::string& error) {
  End(kHelperExitGrace);
  Close(err_);
  exitStatus_ = -1;
  if (!sshError_.empty()) {
    error = sshError_;
    return false;
  }
  std::vector<std::string> command = Command();
  int toSsh[2] = {-1, -1};
  int fromSsh[2] = {-1, -1};
  err_ = memfd_create("netvane-ssh-errors", MFD_CLOEXEC);
  if (err_ < 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, toSsh) != 0 ||
      ::pipe2(fromSsh, O_CLOEXEC) != 0) {
    error = std::string("could not start ssh: ") + std::strerror(errno);
    for (int fd : {toSsh[0], toSsh[1], fromSsh[0], fromSsh[1]})
      if (fd >= 0) ::close(fd);
    return false;
  }
  ::fcntl(fromSsh[0], F_SETPIPE_SZ, kPipeBytes);  // where allowed; the default works too
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, toSsh[1], 0);
  posix_spawn_file_actions_adddup2(&actions, fromSsh[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err_, 2);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);  // ssh gets these three and nothing of ours
  posix_spawnattr_t attr;
  // A Ctrl-C meant for this program must not end the connection before the
  // capture is closed.
  PrepareSpawn(attr);
  std::vector<char*> argv;
  for (std::string& word : command) argv.push_back(word.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  ::close(toSsh[1]);
  ::close(fromSsh[1]);
  if (rc != 0) {
    ::close(toSsh[0]);
    ::close(fromSsh[0]);
    error = rc == ENOENT
                ? "the command " + command[0] + " is missing: install OpenSSH's client (openssh-client)"
                : "could not start " + command[0] + ": " + std::strerror(rc);
    return false;
  }
  pid_ = pid;
  in_ = toSsh[0];
  out_ = fromSsh[0];
  ::fcntl(in_, F_SETFL, ::fcntl(in_, F_GETFL) | O_NONBLOCK);
  ::fcntl(out_, F_SETFL, ::fcntl(out_, F_GETFL) | O_NONBLOCK);
  return true;
}

void SshHelperLink::End(std::chrono::milliseconds grace) {
  // ssh sees the end of its input, ends the session and with it the helper.
  Close(in_);
  Close(out_);
  // Killed, ssh closes the connection, and sshd ends the helper.
  if (pid_ > 0) exitStatus_ = ReapChild(pid_, grace);
  pid_ = -1;
}

ssize_t SshHelperLink::Write(const uint8_t* bytes, size_t size) {
  return ::send(in_, bytes, size, MSG_NOSIGNAL | MSG_DONTWAIT);
}

std::string SshHelperLink::LastErrorLine() const {
  if (err_ < 0) return {};
  const off_t size = ::lseek(err_, 0, SEEK_END);
  if (size <= 0) return {};
  const off_t from = std::max<off_t>(0, size - kErrorTail);
  std::string text(static_cast<size_t>(size - from), '\0');
  const ssize_t n = ::pread(err_, text.data(), text.size(), from);
  text.resize(n > 0 ? static_cast<size_t>(n) : 0);
  // The last line that says something, without control characters.
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
  const size_t start = text.find_last_of("\r\n");
  std::string line = start == std::string::npos ? text : text.substr(start + 1);
  std::replace_if(
      line.begin(), line.end(), [](unsigned char c) { return c < ' ' || c == 0x7F; }, ' ');
  return line;
}

std::string SshHelperLink::Explain(const std::string& what, bool answered) const {
  const std::string host = target_.HostText();
  // How a person reaches the same host with ssh itself.
  const std::string login = "ssh " + (target_.port != 0 ? "-p " + std::to_string(target_.port) + " " : "") +
                            (target_.user.empty() ? "" : target_.user + "@") + target_.host;
  const std::string line = LastErrorLine();
  const std::string said = line.empty() ? std::string() : " (" + line + ")";
  if (exitStatus_ == kSshFailed) {
    if (answered) return "the connection to " + host + " ended" + said;
    if (line.find("Permission denied") != std::string::npos ||
        line.find("Too many authentication failures") != std::string::npos ||
        line.find("authentication methods") != std::string::npos)
      return host + " refused the login" + said +
             ": Netvane logs in with a key or an agent, never a password; set one up so that " + login +
             " -o BatchMode=yes works";
    if (line.find("Host key verification failed") != std::string::npos)
      return "the host key of " + host + " is not known here or has changed" + said + ": connect once with " +
             login + " and check it";
    return "cannot reach " + host + said;
  }
  if (exitStatus_ == kNotFound && !answered)
    return "Netvane is not installed on " + host + said + ": install it there, or name its helper with " +
           "NETVANE_REMOTE_HELPER";
  if (exitStatus_ == kNotPermitted && !answered)
    return std::string("not allowed to capture on ") + host + said + ": ask its administrator to add " +
           (target_.user.empty() ? std::string("you") : target_.user) + " to its group " + kCaptureGroup +
           ", then log in again";
  // What the caller saw, said of the remote helper.
  const std::string helper = "the capture helper";
  if (what.starts_with(helper)) return helper + " on " + host + what.substr(helper.size()) + said;
  return what + " (" + host + ")" + said;
}

bool ListRemoteAdapters(const RemoteTarget& host, std::vector<std::string>& names, std::string& error) {
  names.clear();
  CaptureHelperClient client(std::make_unique<SshHelperLink>(host));
  if (!client.Start(error)) return false;
  helper::Request request;
  request.type = helper::RequestType::ListAdapters;
  helper::Reply reply;
  if (!client.Call(request, reply, error, nullptr)) return false;
  if (reply.status != helper::ReplyStatus::Ok) {
    error = "the capture helper on " + host.HostText() + " could not list its adapters: " + reply.text;
    return false;
  }
  names = reply.adapters;
  return true;
}

}  // namespace netvane
