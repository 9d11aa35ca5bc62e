// netvane-capture: the only Netvane program that holds a capture right
// (CAP_NET_RAW, from its file capabilities). The capture driver starts it with
// one end of a socket pair as its standard input and talks to it there; see
// capture/helper_protocol.h. It does what capture needs and nothing more, and
// ends as soon as the driver's end of the socket closes.
//
// It trusts nothing from its caller: the environment is cleared before
// anything else runs, inherited descriptors are closed, every request is
// checked, and every right but CAP_NET_RAW is given up.
#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "capture/adapter_scan.h"
#include "capture/helper/session.h"
#include "capture/helper_protocol.h"

namespace {

using namespace netvane::helper;

constexpr int kChannel = 0;
// Frames are read from the adapter only while less than this waits for the
// driver; beyond it they wait in the kernel's ring, which counts what it drops.
constexpr size_t kHighWater = 512 * 1024;
// While an adapter fails, it is tried again at this pace instead of at once.
constexpr int kRetryMs = 100;
constexpr int kFallbackWaitMs = 1000;

void CloseInheritedDescriptors() {
#ifdef SYS_close_range
  if (syscall(SYS_close_range, 3U, ~0U, 0U) == 0) return;
#endif
  for (int fd = 3; fd < 4096; ++fd) ::close(fd);
}

// Keeps CAP_NET_RAW if it is there and drops every other capability, also
// when started by root, so that nothing here can do more than capture.
void KeepOnlyCaptureRight() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2] = {};
  if (syscall(SYS_capget, &header, data) != 0) return;
  const uint32_t raw = 1u << CAP_NET_RAW;
  const uint32_t keep = data[0].permitted & raw;
  data[0].effective = keep;
  data[0].permitted = keep;
  data[0].inheritable = 0;
  data[1] = {};
  syscall(SYS_capset, &header, data);
  prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
  prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
}

bool IsSocket(int fd) {
  struct stat st {};
  return fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode);
}

Reply Handle(const Request& request, Session& session) {
  Reply reply;
  reply.request = request.type;
  switch (request.type) {
    case RequestType::List: {
      std::string error;
      if (!netvane::ScanAdapters(true, reply.adapters, error)) {
        reply.status = ReplyStatus::Failed;
        reply.text = error;
      }
      break;
    }
    case RequestType::Open:
      reply.status = session.Open(request, reply.text);
      break;
    case RequestType::SetFilter:
      reply.status = session.SetFilter(request.filter, reply.text);
      break;
    case RequestType::Send:
      reply.status = session.Send(request.frame, reply.text);
      break;
    case RequestType::Stats:
      reply.status = session.Stats(reply.received, reply.dropped, reply.text);
      break;
  }
  return reply;
}

class Outbox {
 public:
  std::vector<uint8_t>& bytes() { return out_; }
  size_t Pending() const { return out_.size() - head_; }
  // Writes what the socket takes now. False when the driver is gone.
  bool Flush() {
    while (Pending() > 0) {
      // The channel is non-blocking and SIGPIPE ignored: a gone driver is EPIPE.
      const ssize_t n = ::write(kChannel, out_.data() + head_, Pending());
      if (n > 0) {
        head_ += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      return false;
    }
    if (head_ == out_.size()) {
      out_.clear();
      head_ = 0;
    }
    return true;
  }

 private:
  std::vector<uint8_t> out_;
  size_t head_ = 0;
};

// Reads and answers requests, and reads frames while an adapter delivers.
// Returns when the driver's end closes (0) or the stream breaks (1).
int Serve() {
  Inbox inbox(kMaxRequestPayload);
  Outbox outbox;
  Session session;
  for (;;) {
    const bool failing = session.delivering() && session.failing();
    const bool wantFrames = session.delivering() && !failing && outbox.Pending() < kHighWater;
    pollfd fds[2] = {};
    fds[0] = {kChannel, static_cast<short>(POLLIN | (outbox.Pending() > 0 ? POLLOUT : 0)), 0};
    int count = 1;
    if (wantFrames) fds[count++] = {session.fd(), POLLIN, 0};
    int timeout = -1;
    if (wantFrames) timeout = session.timeOutMs() > 0 ? session.timeOutMs() : kFallbackWaitMs;
    if (failing) timeout = kRetryMs;
    const int ready = ::poll(fds, static_cast<nfds_t>(count), timeout);
    if (ready < 0 && errno != EINTR) return 1;

    if (fds[0].revents & POLLIN) {
      constexpr size_t kChunk = 64 * 1024;
      const ssize_t n = ::read(kChannel, inbox.Space(kChunk), kChunk);
      if (n == 0) return 0;  // the driver is gone: never capture for nobody
      if (n < 0 && errno != EAGAIN && errno != EINTR) return 1;
      if (n > 0) inbox.Commit(static_cast<size_t>(n));
      uint16_t type = 0;
      std::span<const uint8_t> payload;
      for (;;) {
        const Inbox::Next next = inbox.Pop(type, payload);
        if (next == Inbox::Next::NeedMore) break;
        if (next == Inbox::Next::Oversized) {
          // The stream's framing cannot be trusted past this: say why and end.
          Reply reply;
          reply.status = ReplyStatus::BadRequest;
          reply.text = "request longer than " + std::to_string(kMaxRequestPayload) + " bytes";
          AppendReply(outbox.bytes(), reply);
          outbox.Flush();
          return 1;
        }
        Request request;
        std::string error;
        if (!ParseRequest(type, payload, request, error)) {
          Reply reply;
          reply.request = static_cast<RequestType>(type);
          reply.status = ReplyStatus::BadRequest;
          reply.text = error;
          AppendReply(outbox.bytes(), reply);
          continue;
        }
        AppendReply(outbox.bytes(), Handle(request, session));
      }
    } else if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
      return 0;
    }

    if (session.delivering() && (wantFrames || failing)) {
      const bool signalled = count > 1 && (fds[1].revents & (POLLERR | POLLHUP));
      const bool due = ready == 0 || (count > 1 && fds[1].revents != 0);
      if (due) {
        std::string failure;
        // Bounded by what waits unsent, not by what the buffer once held.
        session.Read(outbox.bytes(), outbox.bytes().size() - outbox.Pending() + kHighWater, signalled,
                     failure);
        if (!failure.empty()) AppendFailure(outbox.bytes(), failure);
      }
    }
    if (!outbox.Flush()) return 0;
  }
}

}  // namespace

int main() {
  // Nothing from the caller's environment reaches the libraries below.
  clearenv();
  std::signal(SIGPIPE, SIG_IGN);
  CloseInheritedDescriptors();
  if (!IsSocket(kChannel)) {
    static const char kText[] = "netvane-capture: started by Netvane's capture driver, not by hand\n";
    (void)!::write(2, kText, sizeof kText - 1);
    return 2;
  }
  KeepOnlyCaptureRight();
  fcntl(kChannel, F_SETFL, fcntl(kChannel, F_GETFL) | O_NONBLOCK);
  return Serve();
}
