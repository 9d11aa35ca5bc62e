// The capture helper as a caller that breaks the rules meets it: every
// malformed request gets a clear refusal and leaves the helper usable; a
// message too long to frame ends it, and so does its caller going away.
#include <gtest/gtest.h>

#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <thread>

#include "capture/helper_client.h"
#include "capture/helper_protocol.h"

namespace {

using namespace netvane::helper;
using Bytes = std::vector<uint8_t>;

class RawHelper {
 public:
  RawHelper() {
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, sv[1], 0);
    char name[] = "netvane-capture";
    char* argv[] = {name, nullptr};
    char* envp[] = {nullptr};
    const std::string path = netvane::CaptureHelperPath();
    if (posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv, envp) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(sv[1]);
    fd_ = sv[0];
  }
  ~RawHelper() {
    CloseOurEnd();
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool ok() const { return pid_ > 0 && fd_ >= 0; }
  void Send(const Bytes& bytes) { ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), ssize_t(bytes.size())); }
  void CloseOurEnd() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  // The next reply within two seconds.
  std::optional<Reply> NextReply() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (;;) {
      uint16_t type = 0;
      std::span<const uint8_t> payload;
      while (inbox_.Pop(type, payload) == Inbox::Next::Message) {
        Reply reply;
        if (type == uint16_t(MessageType::Reply) && ParseReply(payload, reply)) return reply;
      }
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd pfd{fd_, POLLIN, 0};
      if (left.count() <= 0 || poll(&pfd, 1, int(left.count())) <= 0) return std::nullopt;
      const ssize_t n = read(fd_, inbox_.Space(4096), 4096);
      if (n <= 0) return std::nullopt;
      inbox_.Commit(size_t(n));
    }
  }
  // True when the helper has ended within two seconds.
  bool Ends() {
    for (int i = 0; i < 200; ++i) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

 private:
  int fd_ = -1;
  pid_t pid_ = -1;
  Inbox inbox_{kMaxMessagePayload};
};

Bytes Message(uint16_t type, const Bytes& payload) {
  Bytes out;
  AppendHeader(out, type, uint32_t(payload.size()));
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

Bytes Le32(uint32_t v) {
  return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

// An Open payload: snapshot length, time-out, promiscuous flag, name.
Bytes OpenPayload(uint32_t snap, uint32_t timeout, uint8_t promiscuous, uint16_t nameLength,
                  const std::string& name) {
  Bytes p = Le32(snap);
  const Bytes t = Le32(timeout);
  p.insert(p.end(), t.begin(), t.end());
  p.push_back(promiscuous);
  p.push_back(uint8_t(nameLength));
  p.push_back(uint8_t(nameLength >> 8));
  p.insert(p.end(), name.begin(), name.end());
  return p;
}

TEST(CaptureHelper, RefusesMalformedRequestsAndStaysUsable) {
  RawHelper helper;
  ASSERT_TRUE(helper.ok()) << "no helper at " << netvane::CaptureHelperPath();
  const uint16_t open = uint16_t(RequestType::Open);
  const uint16_t filter = uint16_t(RequestType::SetFilter);
  const uint16_t send = uint16_t(RequestType::Send);
  struct Case {
    const char* what;
    Bytes message;
    const char* reason;
  };
  const std::string longName(256, 'e');
  const Case cases[] = {
      {"unknown request", Message(99, {}), "unknown request type 99"},
      {"open cut short", Message(open, {1, 2, 3}), "cut short"},
      {"name of 256 characters", Message(open, OpenPayload(20000, 50, 1, 256, longName)), "longer than 255"},
      {"name longer than its bytes", Message(open, OpenPayload(20000, 50, 1, 10, "eth0")), "cut short"},
      {"name with a slash", Message(open, OpenPayload(20000, 50, 1, 8, "../a/b/c")), "'/'"},
      {"zero snapshot length", Message(open, OpenPayload(0, 50, 1, 4, "eth0")), "snapshot length"},
      {"huge snapshot length", Message(open, OpenPayload(0xFFFFFFFF, 50, 1, 4, "eth0")), "snapshot length"},
      {"promiscuous flag 2", Message(open, OpenPayload(20000, 50, 2, 4, "eth0")), "promiscuous"},
      {"filter longer than allowed", Message(filter, Le32(uint32_t(kMaxFilter + 1))), "longer than"},
      {"filter longer than its bytes", Message(filter, Le32(100)), "cut short"},
      {"empty frame to send", Message(send, Le32(0)), "frame to send"},
      {"frame to send too long", Message(send, Le32(70000)), "frame to send"},
      {"list with a byte too many", Message(uint16_t(RequestType::List), {0}), "too many"},
      {"send with nothing open", EncodeRequest(Request{RequestType::Send, {}, 0, 0, false, {}, Bytes(60, 0)}),
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    helper.Send(c.message);
    const auto reply = helper.NextReply();
    ASSERT_TRUE(reply.has_value()) << "no answer";
    if (*c.reason == '\0') {
      EXPECT_EQ(reply->status, ReplyStatus::NotOpen);
      continue;
    }
    EXPECT_EQ(reply->status, ReplyStatus::BadRequest);
    EXPECT_NE(reply->text.find(c.reason), std::string::npos) << reply->text;
  }
  // Still answering: the adapter list arrives.
  helper.Send(EncodeRequest(Request{RequestType::List, {}, 0, 0, false, {}, {}}));
  const auto list = helper.NextReply();
  ASSERT_TRUE(list.has_value());
  EXPECT_EQ(list->status, ReplyStatus::Ok) << list->text;
}

TEST(CaptureHelper, EndsOnAnUnframeableMessageAndWhenItsCallerGoes) {
  {
    RawHelper helper;
    ASSERT_TRUE(helper.ok());
    Bytes header;
    AppendHeader(header, uint16_t(RequestType::Send), kMaxRequestPayload + 1);
    helper.Send(header);
    const auto reply = helper.NextReply();
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->status, ReplyStatus::BadRequest);
    EXPECT_TRUE(helper.Ends());
  }
  {
    RawHelper helper;
    ASSERT_TRUE(helper.ok());
    helper.CloseOurEnd();
    EXPECT_TRUE(helper.Ends());
  }
}

}  // namespace
