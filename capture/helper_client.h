#pragma once
// The driver's end of the conversation with the capture helper: starting the
// helper program, asking it something and waiting for the answer, and taking
// in the frames it sends. Not thread-safe: the driver uses it under its
// adapter lock.

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <span>
#include <string>

#include "helper/protocol.h"

namespace netvane {

// The group whose members may run the helper, and so capture.
inline constexpr const char* kCaptureGroup = "netvane";

// The helper program: libexec/netvane/netvane-capture beside the running
// program's bin directory, where it is installed.
std::string CaptureHelperPath();

// How long a caller waits for the helper to answer one request, at most.
inline constexpr int kHelperAnswerMs = 1000;

class CaptureHelperClient {
 public:
  CaptureHelperClient() = default;
  ~CaptureHelperClient() { Stop(); }
  CaptureHelperClient(const CaptureHelperClient&) = delete;
  CaptureHelperClient& operator=(const CaptureHelperClient&) = delete;

  // Starts the helper. On failure `error` says, for the user, why and what to do.
  bool Start(std::string& error);
  // Closes the socket, which ends the helper, and reaps it (killing it when
  // it has not ended within a moment).
  void Stop();
  bool running() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  const std::string& path() const { return path_; }

  // Messages other than the awaited reply: frames and failures, in order.
  using MessageSink = std::function<void(helper::MessageType type, std::span<const uint8_t> payload)>;

  // Sends a request and waits for its reply, kHelperAnswerMs at most; what
  // comes before the reply goes to `sink`. False, with `error` set, when the
  // helper is gone (with the reason it gave, if any), does not answer in
  // time or breaks the protocol; it is then killed and reaped at once.
  bool Call(const helper::Request& request, helper::Reply& reply, std::string& error,
            const MessageSink& sink);

  enum class ReadResult { Data, Nothing, Gone };
  // Takes in what the helper has sent, without waiting.
  ReadResult Receive();
  // The next whole message taken in; the payload stays valid until the next
  // Receive, Call or Stop.
  helper::Inbox::Next Next(uint16_t& type, std::span<const uint8_t>& payload) {
    return inbox_.Pop(type, payload);
  }

 private:
  int fd_ = -1;
  pid_t pid_ = -1;
  std::string path_;
  helper::Inbox inbox_{helper::kMaxMessagePayload};
  // Kills and reaps the helper after it broke the conversation.
  void Kill();
  // Closes the socket and reaps the helper, killing it when it has not ended
  // within `grace`.
  void End(std::chrono::milliseconds grace);
};

}  // namespace netvane
