#include "capture/helper_client.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>

namespace netvane {
namespace {

constexpr size_t kReadChunk = 256 * 1024;

// The start of what came instead of a message, as far as it is printable:
// what a remote shell said in the helper's place.
std::string Excerpt(std::span<const uint8_t> bytes) {
  constexpr size_t kMost = 80;
  std::string text;
  for (size_t i = 0; i < bytes.size() && i < kMost && bytes[i] >= ' ' && bytes[i] < 0x7F; ++i)
    text += static_cast<char>(bytes[i]);
  return text.empty() ? text : " (\"" + text + "\")";
}

int RemainingMs(std::chrono::steady_clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

bool CaptureHelperClient::Start(std::string& error) {
  Stop();
  answered_ = false;
  return link_->Start(error);
}

CaptureHelperClient::ReadResult CaptureHelperClient::Receive() {
  const int fd = link_->readFd();
  if (fd < 0) return ReadResult::Gone;
  for (;;) {
    const ssize_t n = ::read(fd, inbox_.Space(kReadChunk), kReadChunk);
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
  if (!running()) {
    error = "the capture helper is not running";
    return false;
  }
  const std::vector<uint8_t> bytes = helper::EncodeRequest(request);
  size_t sent = 0;
  const std::chrono::milliseconds answerTime = link_->AnswerTime();
  const auto deadline = std::chrono::steady_clock::now() + answerTime;
  std::string reason;  // what the helper said when it failed, if it did
  bool gone = false;   // the helper has ended; what it sent first is still taken
  auto broken = [&](const std::string& why) {
    // One that has gone is given the time to end by itself, so that the link
    // learns how it ended; one that stays is ended at once.
    End(gone ? kHelperExitGrace : std::chrono::milliseconds(0));
    error = Explain(reason.empty() ? why : why + ": " + reason);
    return false;
  };
  for (;;) {
    // Whatever has arrived comes first: frames before the reply, then the reply.
    uint16_t type = 0;
    std::span<const uint8_t> payload;
    for (;;) {
      const helper::Inbox::Next next = inbox_.Pop(type, payload);
      if (next == helper::Inbox::Next::NeedMore) break;
      if (next == helper::Inbox::Next::Oversized)
        return broken("the capture helper sent a malformed message" +
                      (answered_ ? std::string() : Excerpt(inbox_.Waiting())));
      const auto kind = static_cast<helper::MessageType>(type);
      if (kind != helper::MessageType::Reply) {
        if (kind == helper::MessageType::Failure) reason.assign(payload.begin(), payload.end());
        if (sink) sink(kind, payload);
        continue;
      }
      if (sent < bytes.size()) continue;  // cannot answer what was not asked yet
      if (!helper::ParseReply(payload, reply) || reply.request != request.type)
        return broken("the capture helper sent a malformed reply");
      answered_ = true;
      return true;
    }
    if (gone) return broken("the capture helper ended");
    if (interruptRequested_ && interruptRequested_()) {
      End(std::chrono::milliseconds(0));
      error = kInterrupted;
      return false;
    }
    // The link's two descriptors, which may be one, and the interrupt's.
    const bool sending = sent < bytes.size();
    pollfd fds[3] = {{link_->readFd(), POLLIN, 0}, {-1, 0, 0}, {-1, 0, 0}};
    nfds_t count = 1;
    pollfd* writeWatch = &fds[0];
    if (sending) {
      if (link_->writeFd() == fds[0].fd) {
        fds[0].events |= POLLOUT;
      } else {
        writeWatch = &fds[count];
        fds[count++] = {link_->writeFd(), POLLOUT, 0};
      }
    }
    pollfd* interruptWatch = nullptr;
    if (interruptFd_ >= 0) {
      interruptWatch = &fds[count];
      fds[count++] = {interruptFd_, POLLIN, 0};
    }
    const int ready = ::poll(fds, count, RemainingMs(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0)
      return broken("the capture helper did not answer within " +
                    std::to_string((answerTime.count() + 999) / 1000) + " s");
    if (interruptWatch != nullptr && (interruptWatch->revents & POLLIN)) {
      uint64_t wakes = 0;
      while (::read(interruptFd_, &wakes, sizeof wakes) > 0) {
      }
      continue;  // asks interruptRequested_ above; a wake-up for anything else waits on
    }
    const bool writable = (writeWatch->revents & POLLOUT) != 0;
    if (sending && writable) {
      const ssize_t n = link_->Write(bytes.data() + sent, bytes.size() - sent);
      if (n > 0)
        sent += static_cast<size_t>(n);
      else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
        gone = true;
    }
    if (gone || (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
      ReadResult got;
      while ((got = Receive()) == ReadResult::Data && gone) {
      }
      if (got == ReadResult::Gone) gone = true;
    }
  }
}

}  // namespace netvane
