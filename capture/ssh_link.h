#pragma once
// The capture helper of another host, reached over SSH: the driver runs
//   ssh -T -o BatchMode=yes ... [-p PORT] [-l USER] -- HOST 'HELPER' --ssh
// and talks to the helper over ssh's standard input and output, in the same
// messages as over the local socket pair. Nothing of ours listens on the
// network; the right to capture there is that host's own (its group netvane).
//
// NETVANE_SSH replaces "ssh" (ssh_command.h). NETVANE_REMOTE_HELPER names
// the helper on the remote hosts when it is not the package's
// /usr/libexec/netvane/netvane-capture.

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "capture/helper_link.h"
#include "capture/remote_name.h"
#include "capture/ssh_command.h"
#include "helper/protocol.h"

namespace netvane {

// The package's helper, which remote hosts run unless NETVANE_REMOTE_HELPER names another.
inline constexpr const char* kRemoteHelperPath = "/usr/libexec/netvane/netvane-capture";

class SshHelperLink final : public HelperLink {
 public:
  // NETVANE_SSH is read here; Start reports a value it cannot use.
  explicit SshHelperLink(RemoteTarget target);
  ~SshHelperLink() override;
  bool Start(std::string& error) override;
  void End(std::chrono::milliseconds grace) override;
  int readFd() const override { return out_; }
  int writeFd() const override { return in_; }
  ssize_t Write(const uint8_t* bytes, size_t size) override;
  const std::string& name() const override { return name_; }
  std::chrono::milliseconds AnswerTime() const override;
  std::string Explain(const std::string& what, bool answered) const override;

 private:
  // The command line Start runs.
  std::vector<std::string> Command() const;
  // The last line ssh (or the remote shell) wrote to standard error.
  std::string LastErrorLine() const;

  RemoteTarget target_;
  std::string name_;  // "HELPER on HOST"
  SshCommand ssh_;
  std::string sshError_;  // why NETVANE_SSH cannot be used; empty when it can
  int in_ = -1;           // ssh's standard input: our end of a socket pair
  int out_ = -1;          // ssh's standard output: the read end of a pipe
  int err_ = -1;          // ssh's standard error: a memory file, read when something fails
  pid_t pid_ = -1;
  int exitStatus_ = -1;  // ssh's, once reaped; -1 when killed or not known
};

// Lists the adapters of a host (ParseRemoteHost) as its helper would open
// them. False, with a message naming the host in `error`, when it cannot; ends
// within the connect timeout and one second more.
bool ListRemoteAdapters(const RemoteTarget& host, std::vector<std::string>& names, std::string& error);

}  // namespace netvane
