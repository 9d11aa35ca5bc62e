#include "helper/serve.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include "helper/adapter_check.h"
#include "helper/capture_session.h"
#include "helper/protocol.h"

namespace netvane::helper {
namespace {

// What may wait unsent before the helper stops reading requests and frames;
// frames then wait in the kernel's ring, which counts what it drops.
constexpr size_t kHighWater = 512 * 1024;
// Requests are read in pieces of this size, and only when no whole one waits.
constexpr size_t kReadChunk = 64 * 1024;
// While an adapter fails, it is tried again at this pace instead of at once.
constexpr int kRetryMs = 100;

class Outbox {
 public:
  explicit Outbox(int channel) : channel_(channel) {}
  std::vector<uint8_t>& bytes() { return out_; }
  size_t Pending() const { return out_.size() - head_; }
  bool Full() const { return Pending() >= kHighWater; }
  // Writes what the socket takes now. False when the driver is gone.
  bool Flush() {
    while (Pending() > 0) {
      // The channel is non-blocking and SIGPIPE ignored: a gone driver is EPIPE.
      const ssize_t n = ::write(channel_, out_.data() + head_, Pending());
      if (n > 0) {
        head_ += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      return false;
    }
    // What has gone is dropped, so the buffer holds only what still waits.
    if (head_ == out_.size()) {
      out_.clear();
      head_ = 0;
    } else if (head_ >= kHighWater) {
      out_.erase(out_.begin(), out_.begin() + static_cast<std::ptrdiff_t>(head_));
      head_ = 0;
    }
    return true;
  }

 private:
  int channel_;
  std::vector<uint8_t> out_;
  size_t head_ = 0;
};

// The two ends the helper talks to its driver over; one socket when local.
struct Channel {
  int in;
  int out;
};

// The driver has closed its end (or the stream broke), whatever still waits
// to be read: nothing more is done for it. A pipe the helper writes to
// reports its reader gone as an error.
bool HungUp(const Channel& channel) {
  pollfd fds[2] = {{channel.in, 0, 0}, {channel.out, 0, 0}};
  const nfds_t count = channel.in == channel.out ? 1 : 2;
  if (::poll(fds, count, 0) <= 0) return false;
  for (nfds_t i = 0; i < count; ++i)
    if (fds[i].revents & (POLLHUP | POLLERR | POLLNVAL)) return true;
  return false;
}

Reply Handle(const Request& request, CaptureSession& session, const SshConnection* connection) {
  Reply reply;
  reply.request = request.type;
  switch (request.type) {
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
    case RequestType::ListAdapters:
      reply.adapters = AdapterChecker().EthernetInterfaces();
      break;
    case RequestType::Connection:
      if (connection != nullptr) {
        reply.connection = *connection;
      } else {
        reply.status = ReplyStatus::Failed;
        reply.text = "not started over SSH";
      }
      break;
  }
  return reply;
}

void Answer(uint16_t type, std::span<const uint8_t> payload, CaptureSession& session, Outbox& outbox,
            const SshConnection* connection) {
  Request request;
  std::string error;
  if (ParseRequest(type, payload, request, error)) {
    AppendReply(outbox.bytes(), Handle(request, session, connection));
    return;
  }
  Reply refusal;
  refusal.request = static_cast<RequestType>(type);
  refusal.status = ReplyStatus::BadRequest;
  refusal.text = error;
  AppendReply(outbox.bytes(), refusal);
}

enum class Answered { AllThatCame, OutboxFull, HungUp, Unframeable };

// Answers the whole requests read so far while there is room for replies,
// checking before each one that the driver is still there.
Answered AnswerWaiting(const Channel& channel, Inbox& inbox, CaptureSession& session, Outbox& outbox,
                       const SshConnection* connection) {
  for (;;) {
    if (outbox.Full()) return Answered::OutboxFull;
    uint16_t type = 0;
    std::span<const uint8_t> payload;
    const Inbox::Next next = inbox.Pop(type, payload);
    if (next == Inbox::Next::NeedMore) return Answered::AllThatCame;
    if (next == Inbox::Next::Oversized) return Answered::Unframeable;
    if (HungUp(channel)) return Answered::HungUp;
    Answer(type, payload, session, outbox, connection);
  }
}

}  // namespace

int Serve(int in, int out, const SshConnection* connection) {
  const Channel channel{in, out};
  Inbox inbox(kMaxRequestPayload);
  Outbox outbox(out);
  CaptureSession session;
  for (;;) {
    const Answered answered = AnswerWaiting(channel, inbox, session, outbox, connection);
    if (answered == Answered::HungUp) return 0;
    if (answered == Answered::Unframeable) {
      // The stream's framing cannot be trusted past this: say why and end.
      Reply reply;
      reply.status = ReplyStatus::BadRequest;
      reply.text = "request longer than " + std::to_string(kMaxRequestPayload) + " bytes";
      AppendReply(outbox.bytes(), reply);
      outbox.Flush();
      return 1;
    }
    // Only with no whole request waiting (so the inbox holds less than one)
    // and room for its reply is more read.
    const bool wantRequests = answered == Answered::AllThatCame;
    const bool failing = session.delivering() && session.failing();
    const bool wantFrames = session.delivering() && !failing && !outbox.Full();
    // The driver's end or ends first (a hang-up of either ends the helper), then the adapter.
    pollfd fds[3] = {};
    const short inEvents = wantRequests ? POLLIN : 0;
    const short outEvents = outbox.Pending() > 0 ? POLLOUT : 0;
    int count = 0;
    if (in == out) {
      fds[count++] = {in, static_cast<short>(inEvents | outEvents), 0};
    } else {
      fds[count++] = {in, inEvents, 0};
      fds[count++] = {out, outEvents, 0};
    }
    const int ends = count;  // and the adapter's place when it is polled
    if (wantFrames) fds[count++] = {session.fd(), POLLIN, 0};
    int timeout = -1;
    if (wantFrames) timeout = session.timeOutMs() > 0 ? session.timeOutMs() : kFallbackWaitMs;
    if (failing) timeout = kRetryMs;
    const int ready = ::poll(fds, static_cast<nfds_t>(count), timeout);
    if (ready < 0 && errno != EINTR) return 1;
    if (ready < 0) continue;

    // Reported whatever was asked for: the driver is gone, never capture for nobody.
    for (int i = 0; i < ends; ++i)
      if (fds[i].revents & (POLLHUP | POLLERR | POLLNVAL)) return 0;
    if (fds[0].revents & POLLIN) {
      const ssize_t n = ::read(in, inbox.Space(kReadChunk), kReadChunk);
      if (n == 0) return 0;
      if (n < 0 && errno != EAGAIN && errno != EINTR) return 1;
      if (n > 0) inbox.Commit(static_cast<size_t>(n));
    }

    if (wantFrames || failing) {
      const bool polled = count > ends;
      const bool signalled = polled && (fds[ends].revents & (POLLERR | POLLHUP));
      const bool due = ready == 0 || (polled && fds[ends].revents != 0);
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

}  // namespace netvane::helper
