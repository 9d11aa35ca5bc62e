#pragma once
// How the driver reaches its capture helper: a helper program started for it,
// with one descriptor to read the helper's messages from and one to write
// requests to. The conversation (helper_client.h) works on any link; the
// local link starts the installed helper on a socket pair, so both are the
// same socket there; the SSH link (ssh_link.h) runs the helper of another host.

#include <spawn.h>
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace netvane {

// The group whose members may run the helper, and so capture.
inline constexpr const char* kCaptureGroup = "netvane";

// The helper program: libexec/netvane/netvane-capture beside the running
// program's bin directory, where it is installed.
std::string CaptureHelperPath();

// A helper whose descriptors closed ends at once; one that has not ended
// after this long is killed.
inline constexpr auto kHelperExitGrace = std::chrono::milliseconds(200);

// Sets `attr` up for a program a link starts (the helper, or ssh): default
// signal handling and nothing blocked, whatever this program's threads have
// set, and a process group of its own. A Ctrl-C at the terminal signals the
// whole foreground group; the helper must outlive it until this program has
// read the kernel's counters and closed it. It still ends when this program
// goes, since that closes its end of the link.
void PrepareSpawn(posix_spawnattr_t& attr);
// Waits up to `grace` for the child `pid` to end, then kills it, and reaps
// it. Its exit status; -1 when it did not exit by itself.
int ReapChild(pid_t pid, std::chrono::milliseconds grace);

class HelperLink {
 public:
  virtual ~HelperLink() = default;
  // Starts the helper. On failure `error` says, for the user, why and what to do.
  virtual bool Start(std::string& error) = 0;
  // Closes the descriptors, which ends the helper, and reaps it, killing it
  // when it has not ended within `grace`.
  virtual void End(std::chrono::milliseconds grace) = 0;
  // Both non-blocking; -1 while no helper runs.
  virtual int readFd() const = 0;
  virtual int writeFd() const = 0;
  // Writes what writeFd() takes now, as write(2) does, and never raises SIGPIPE.
  virtual ssize_t Write(const uint8_t* bytes, size_t size) = 0;
  // The helper as messages name it.
  virtual const std::string& name() const = 0;
  // How long an answer of the helper may take: a second, and for a helper
  // reached over a network what the link needs to reach it (the first
  // answer) and to bring the frames sent before an answer.
  virtual std::chrono::milliseconds AnswerTime() const { return std::chrono::seconds(1); }
  // After End: why the helper went, for the user, given what the caller saw
  // (`what`) and whether the helper had answered since Start.
  virtual std::string Explain(const std::string& what, bool answered) const {
    (void)answered;
    return what;
  }
};

// The helper installed beside this program (CaptureHelperPath), started as
// this program's child on a socket pair.
class LocalHelperLink final : public HelperLink {
 public:
  ~LocalHelperLink() override { End(kHelperExitGrace); }
  bool Start(std::string& error) override;
  void End(std::chrono::milliseconds grace) override;
  int readFd() const override { return fd_; }
  int writeFd() const override { return fd_; }
  ssize_t Write(const uint8_t* bytes, size_t size) override;
  const std::string& name() const override { return path_; }

 private:
  int fd_ = -1;
  pid_t pid_ = -1;
  std::string path_;
};

}  // namespace netvane
