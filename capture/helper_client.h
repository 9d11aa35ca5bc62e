#pragma once
// The driver's end of the conversation with the capture helper: starting the
// helper over a link (helper_link.h), asking it something and waiting for the
// answer, and taking in the frames it sends. Not thread-safe: the driver uses
// it on its own thread only.

#include <chrono>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "capture/helper_link.h"
#include "helper/protocol.h"

namespace netvane {

class CaptureHelperClient {
 public:
  explicit CaptureHelperClient(std::unique_ptr<HelperLink> link = std::make_unique<LocalHelperLink>())
      : link_(std::move(link)) {}
  ~CaptureHelperClient() { Stop(); }
  CaptureHelperClient(const CaptureHelperClient&) = delete;
  CaptureHelperClient& operator=(const CaptureHelperClient&) = delete;

  // Talks to the helper over `link` from now on; a running helper is ended first.
  void Use(std::unique_ptr<HelperLink> link) {
    Stop();
    link_ = std::move(link);
  }
  // Starts the helper. On failure `error` says, for the user, why and what to do.
  bool Start(std::string& error);
  // Ends the helper (see HelperLink::End).
  void Stop() { End(kHelperExitGrace); }
  bool running() const { return link_->readFd() >= 0; }
  // What to wait on for the helper's messages.
  int fd() const { return link_->readFd(); }
  const std::string& path() const { return link_->name(); }

  // Messages other than the awaited reply: frames and failures, in order.
  using MessageSink = std::function<void(helper::MessageType type, std::span<const uint8_t> payload)>;

  // Lets another thread end a Call's wait (a connect the user gave up):
  // whenever `fd` becomes readable, a Call reads it empty and asks
  // `requested`; when that says so, the helper is ended and the Call fails
  // with kInterrupted. Set once, before the first Call.
  void SetInterrupt(int fd, std::function<bool()> requested) {
    interruptFd_ = fd;
    interruptRequested_ = std::move(requested);
  }
  static constexpr const char* kInterrupted = "interrupted";

  // Sends a request and waits for its reply, the link's AnswerTime at most;
  // what comes before the reply goes to `sink`. False, with `error` set, when the
  // helper is gone (with the reason it gave, or the link's, if any), does not
  // answer in time, breaks the protocol or the wait is interrupted; it is then
  // ended and reaped.
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
  // Once the helper has gone and Stop has run: why, for the user (`what` is
  // what the caller saw).
  std::string Explain(const std::string& what) const { return link_->Explain(what, answered_); }

 private:
  void End(std::chrono::milliseconds grace) {
    link_->End(grace);
    inbox_.Clear();
  }

  std::unique_ptr<HelperLink> link_;
  helper::Inbox inbox_{helper::kMaxMessagePayload};
  bool answered_ = false;  // a reply has come since Start
  int interruptFd_ = -1;
  std::function<bool()> interruptRequested_;
};

}  // namespace netvane
