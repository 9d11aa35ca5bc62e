// The capture helper as a caller that breaks the rules meets it: every
// malformed request gets a clear refusal and leaves the helper usable; a
// message too long to frame ends it, and so does its caller going away, at
// once, whatever it left queued; a caller that floods it and never reads
// leaves it no bigger; a Ctrl-C meant for its caller does not reach it;
// started by root, it keeps CAP_NET_RAW and nothing else.
#include <gtest/gtest.h>

#include <linux/filter.h>
#include <poll.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <optional>
#include <thread>

#include "capture/helper_client.h"
#include "helper/protocol.h"
#include "helper/ssh_connection.h"

namespace {

// Sanitizer builds (the helper is built alike) keep shadow memory and freed
// blocks of their own, so resident size there says nothing about the helper.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kResidentSizeMeansSomething = false;
#else
constexpr bool kResidentSizeMeansSomething = true;
#endif

using namespace netvane::helper;
using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

// A line of /proc/PID/status without its label, empty when there is none.
std::string Status(pid_t pid, const std::string& label) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(label + ":", 0) != 0) continue;
    const size_t value = line.find_first_not_of(" \t", label.size() + 1);
    return value == std::string::npos ? std::string() : line.substr(value);
  }
  return {};
}

// Peak resident memory in KiB, as the kernel counts it.
long PeakKiB(pid_t pid) {
  const std::string hwm = Status(pid, "VmHWM");
  return hwm.empty() ? -1 : std::stol(hwm);
}

class RawHelper {
 public:
  // `ownNetwork`: the helper runs in a network namespace of its own, with its
  // loopback up, so the frames it sends there reach nothing else (needs root).
  explicit RawHelper(bool ownNetwork = false) {
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, sv[1], 0);
    std::string path = netvane::CaptureHelperPath();
    std::vector<std::string> args = {"netvane-capture"};
    std::string program = path;
    if (ownNetwork) {
      program = "/usr/bin/unshare";
      args = {"unshare", "--net", "/bin/sh", "-c", "ip link set lo up && exec \"$0\"", path};
    }
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    char* envp[] = {nullptr};
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp) != 0) pid_ = -1;
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
  pid_t pid() const { return pid_; }
  void Send(const Bytes& bytes) { ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), ssize_t(bytes.size())); }
  // Writes what the socket takes within `time`, without reading; the bytes written.
  size_t SendWithoutReading(const Bytes& message, std::chrono::milliseconds time) {
    size_t written = 0;
    size_t at = 0;  // into the message being written
    const auto deadline = Clock::now() + time;
    while (Clock::now() < deadline) {
      pollfd pfd{fd_, POLLOUT, 0};
      if (poll(&pfd, 1, 20) <= 0 || !(pfd.revents & POLLOUT)) continue;
      const ssize_t n = send(fd_, message.data() + at, message.size() - at, MSG_DONTWAIT | MSG_NOSIGNAL);
      if (n <= 0) continue;
      written += size_t(n);
      at = (at + size_t(n)) % message.size();
    }
    return written;
  }
  void CloseOurEnd() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  // The next reply within two seconds.
  std::optional<Reply> NextReply() {
    const auto deadline = Clock::now() + 2s;
    for (;;) {
      uint16_t type = 0;
      std::span<const uint8_t> payload;
      while (inbox_.Pop(type, payload) == Inbox::Next::Message) {
        Reply reply;
        if (type == uint16_t(MessageType::Reply) && ParseReply(payload, reply)) return reply;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      pollfd pfd{fd_, POLLIN, 0};
      if (left.count() <= 0 || poll(&pfd, 1, int(left.count())) <= 0) return std::nullopt;
      const ssize_t n = read(fd_, inbox_.Space(4096), 4096);
      if (n <= 0) return std::nullopt;
      inbox_.Commit(size_t(n));
    }
  }
  std::optional<Reply> Ask(const Request& request) {
    Send(EncodeRequest(request));
    return NextReply();
  }
  // True when the helper has ended within `time`.
  bool Ends(std::chrono::milliseconds time = 2s) {
    const auto deadline = Clock::now() + time;
    do {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
        return true;
      }
      std::this_thread::sleep_for(2ms);
    } while (Clock::now() < deadline);
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

Request OpenRequest(const std::string& name) {
  Request r;
  r.type = RequestType::Open;
  r.name = name;
  r.snapLength = 20000;
  r.timeOutMs = 50;
  r.promiscuous = true;
  return r;
}

const FilterInstruction kAcceptAll{BPF_RET | BPF_K, 0, 0, 20000};

Request FilterRequest(std::vector<FilterInstruction> program) {
  Request r;
  r.type = RequestType::SetFilter;
  r.filter = std::move(program);
  return r;
}

Request StatsRequest() {
  Request r;
  r.type = RequestType::Stats;
  return r;
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
  // The largest program the kernel takes, plus one instruction.
  const std::vector<FilterInstruction> overLimit(kMaxFilterInstructions + 1, kAcceptAll);
  const Bytes overLimitMessage = EncodeRequest(FilterRequest(overLimit));
  const Case cases[] = {
      {"unknown request", Message(99, {}), "unknown request type 99"},
      {"open cut short", Message(open, {1, 2, 3}), "cut short"},
      {"name of 256 characters", Message(open, OpenPayload(20000, 50, 1, 256, longName)), "longer than 255"},
      {"name longer than its bytes", Message(open, OpenPayload(20000, 50, 1, 10, "eth0")), "cut short"},
      {"name with a slash", Message(open, OpenPayload(20000, 50, 1, 8, "../a/b/c")), "'/'"},
      {"zero snapshot length", Message(open, OpenPayload(0, 50, 1, 4, "eth0")), "snapshot length"},
      {"huge snapshot length", Message(open, OpenPayload(0xFFFFFFFF, 50, 1, 4, "eth0")), "snapshot length"},
      {"promiscuous flag 2", Message(open, OpenPayload(20000, 50, 2, 4, "eth0")), "promiscuous"},
      {"filter over the kernel's limit", overLimitMessage,
       "filter program of 4097 instructions; the kernel takes at most 4096"},
      {"filter longer than its bytes", Message(filter, Le32(100)), "cut short"},
      {"filter jumping past its end", EncodeRequest(FilterRequest({{BPF_JMP | BPF_JA, 0, 0, 5}, kAcceptAll})),
       "past the end"},
      {"empty frame to send", Message(send, Le32(0)), "frame to send"},
      {"frame to send too long", Message(send, Le32(70000)), "frame to send"},
      {"stats with a byte too many", Message(uint16_t(RequestType::Stats), {0}), "too many"},
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
  // Still answering.
  const auto stats = helper.Ask(StatsRequest());
  ASSERT_TRUE(stats.has_value());
  EXPECT_EQ(stats->status, ReplyStatus::NotOpen) << stats->text;
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

// The only child of `parent`, -1 when it has none or more than one.
pid_t OnlyChild(pid_t parent) {
  std::ifstream in("/proc/" + std::to_string(parent) + "/task/" + std::to_string(parent) + "/children");
  pid_t child = -1;
  pid_t more = -1;
  return in >> child && !(in >> more) ? child : -1;
}

// A Ctrl-C at a terminal signals the whole foreground process group. The
// driver's helper is in a group of its own, so it goes on answering its
// caller, which may then read the kernel's counters and close it; and when
// the caller is killed instead, the helper ends all the same.
TEST(CaptureHelper, OutlivesItsCallersCtrlCAndEndsWhenTheCallerIsKilled) {
  // Orphaned, the helper becomes this process's child, whose end can be awaited.
  ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  int ask[2];
  int told[2];
  ASSERT_EQ(pipe(ask), 0);
  ASSERT_EQ(pipe(told), 0);
  const pid_t caller = fork();
  ASSERT_GE(caller, 0);
  if (caller == 0) {
    // The caller leads its group, as a program in a terminal's foreground
    // does, and takes the Ctrl-C itself.
    setpgid(0, 0);
    signal(SIGINT, SIG_IGN);
    netvane::CaptureHelperClient client;
    std::string error;
    char answer = client.Start(error) ? 'S' : 'F';
    (void)!write(told[1], &answer, 1);
    for (char c; read(ask[0], &c, 1) == 1;) {
      Reply reply;
      answer = client.Call(StatsRequest(), reply, error, nullptr) ? 'A' : 'N';
      (void)!write(told[1], &answer, 1);
    }
    _exit(0);
  }
  setpgid(caller, caller);
  close(ask[0]);
  close(told[1]);
  char answer = 0;
  EXPECT_TRUE(read(told[0], &answer, 1) == 1 && answer == 'S') << "the helper did not start";
  const pid_t helper = answer == 'S' ? OnlyChild(caller) : -1;
  EXPECT_GT(helper, 0);
  if (helper > 0) {
    EXPECT_NE(getpgid(helper), getpgid(caller));
    EXPECT_EQ(kill(-caller, SIGINT), 0);
    answer = 0;
    EXPECT_TRUE(write(ask[1], "?", 1) == 1 && read(told[0], &answer, 1) == 1 && answer == 'A')
        << "the helper did not answer after the Ctrl-C";
  }
  kill(caller, SIGKILL);
  waitpid(caller, nullptr, 0);
  close(ask[1]);
  close(told[0]);
  if (helper > 0) {
    bool ended = false;
    for (const auto deadline = Clock::now() + 2s; !ended && Clock::now() < deadline;
         std::this_thread::sleep_for(2ms))
      ended = waitpid(helper, nullptr, WNOHANG) == helper;
    EXPECT_TRUE(ended) << "the helper still runs 2 s after its caller was killed";
    if (!ended) {
      kill(helper, SIGKILL);
      waitpid(helper, nullptr, 0);
    }
  }
  prctl(PR_SET_CHILD_SUBREAPER, 0);
}

// A caller queues as much work as the socket holds (opening an adapter is the
// slowest thing the helper does, most of all with a right to do it), a
// filter of the kernel's largest size among it, and closes: the helper
// notices between two requests and ends within a second.
TEST(CaptureHelper, EndsWithinASecondOfItsCallerClosingWithWorkQueued) {
  RawHelper helper(geteuid() == 0);
  ASSERT_TRUE(helper.ok());
  const auto opened = helper.Ask(OpenRequest("lo"));
  ASSERT_TRUE(opened.has_value());
  std::vector<FilterInstruction> largest(kMaxFilterInstructions - 1, {BPF_LD | BPF_IMM, 0, 0, 1});
  largest.push_back(kAcceptAll);
  Bytes queue = EncodeRequest(FilterRequest(largest));
  const Bytes open = EncodeRequest(OpenRequest("lo"));
  for (int i = 0; i < 20000; ++i) queue.insert(queue.end(), open.begin(), open.end());
  const size_t written = helper.SendWithoutReading(queue, 300ms);
  EXPECT_GT(written, open.size() * 1000) << "the socket took less than a thousand requests";
  const long peak = PeakKiB(helper.pid());
  const auto closed = Clock::now();
  helper.CloseOurEnd();
  EXPECT_TRUE(helper.Ends(1s)) << "still running 1 s after its caller closed";
  std::printf("helper ended %lld ms after its caller closed (it had opened lo: %s); peak resident %ld KiB\n",
              static_cast<long long>(
                  std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - closed).count()),
              opened->status == ReplyStatus::Ok ? "yes" : "no", peak);
}

// A caller that sends requests as fast as the helper takes them and never
// reads a reply: the helper stops reading once its unsent replies pass its
// mark, so its memory stays where it was. With a right (as root), it also
// has loopback open in a network of its own and sends frames there that it
// captures itself, so frames pile up as well.
TEST(CaptureHelper, CallerThatFloodsAndNeverReadsLeavesItsMemoryBounded) {
  const bool root = geteuid() == 0;
  RawHelper helper(root);
  ASSERT_TRUE(helper.ok());
  Bytes flood = EncodeRequest(StatsRequest());
  if (root) {
    const auto opened = helper.Ask(OpenRequest("lo"));
    ASSERT_TRUE(opened.has_value());
    ASSERT_EQ(opened->status, ReplyStatus::Ok) << opened->text;
    const auto filtered = helper.Ask(FilterRequest({kAcceptAll}));
    ASSERT_TRUE(filtered.has_value());
    ASSERT_EQ(filtered->status, ReplyStatus::Ok) << filtered->text;
    Request send;
    send.type = RequestType::Send;
    send.frame.assign(1400, 0);
    send.frame[12] = 0x88;  // an EtherType for local experiments: no host takes it in
    send.frame[13] = 0xB5;
    flood = EncodeRequest(send);
  }
  ASSERT_TRUE(helper.Ask(StatsRequest()).has_value());  // settled: set up, adapter open
  const long before = PeakKiB(helper.pid());
  ASSERT_GT(before, 0);
  const size_t written = helper.SendWithoutReading(flood, 2s);
  const long after = PeakKiB(helper.pid());
  std::printf("flooded with %zu bytes of %s requests: peak resident %ld KiB before, %ld KiB after\n", written,
              root ? "send" : "stats", before, after);
  // Each request costs a reply: had the helper kept reading, it would hold
  // replies for all it was sent.
  EXPECT_LT(written, size_t(64) << 20) << "the helper kept reading requests it could not answer";
  if (kResidentSizeMeansSomething) {
    EXPECT_LT(after - before, 8 * 1024) << "the helper grew by " << after - before << " KiB";
  }
  helper.CloseOurEnd();
  EXPECT_TRUE(helper.Ends(1s));
}

// Started by root, the helper becomes nobody:nogroup with CAP_NET_RAW alone,
// in every set that holds anything, and can gain nothing on exec.
TEST(CaptureHelper, StartedByRootKeepsOnlyTheCaptureRight) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  RawHelper helper;
  ASSERT_TRUE(helper.ok());
  ASSERT_TRUE(helper.Ask(StatsRequest()).has_value());  // its set-up is done
  const pid_t pid = helper.pid();
  EXPECT_EQ(Status(pid, "Uid"), "65534\t65534\t65534\t65534");
  EXPECT_EQ(Status(pid, "Gid"), "65534\t65534\t65534\t65534");
  EXPECT_EQ(Status(pid, "Groups"), "");
  for (const char* set : {"CapEff", "CapPrm", "CapBnd"})
    EXPECT_EQ(Status(pid, set), "0000000000002000") << set;
  for (const char* set : {"CapInh", "CapAmb"}) EXPECT_EQ(Status(pid, set), "0000000000000000") << set;
  EXPECT_EQ(Status(pid, "NoNewPrivs"), "1");
  // And it still captures.
  const auto opened = helper.Ask(OpenRequest("lo"));
  ASSERT_TRUE(opened.has_value());
  EXPECT_EQ(opened->status, ReplyStatus::Ok) << opened->text;
}

// Started over SSH, the helper reports the connection sshd describes; it
// takes only exact numeric text, since the driver compiles it into a filter.
TEST(CaptureHelper, TakesOnlyAnExactSshConnection) {
  const Endpoint v4{4, {10, 0, 0, 1}, 50000};
  const Endpoint v4Server{4, {10, 0, 0, 2}, 22};
  const Endpoint v6{6, {0xFE, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, 50000};
  const struct {
    const char* text;
    std::optional<SshConnection> parsed;
  } cases[] = {
      {"10.0.0.1 50000 10.0.0.2 22", SshConnection{v4, v4Server}},
      {"fe80::1%eth0 50000 10.0.0.2 22", SshConnection{v6, v4Server}},
      {"::ffff:10.0.0.1 50000 10.0.0.2 22", SshConnection{v4, v4Server}},
      {"10.0.0.1 50000 10.0.0.2", std::nullopt},
      {"10.0.0.1 50000 10.0.0.2 22 1", std::nullopt},
      {"10.0.0.1  50000 10.0.0.2 22", std::nullopt},
      {"10.0.0.1 0 10.0.0.2 22", std::nullopt},
      {"10.0.0.1 65536 10.0.0.2 22", std::nullopt},
      {"10.0.0.1 +22 10.0.0.2 22", std::nullopt},
      {"host.example 50000 10.0.0.2 22", std::nullopt},
      {"10.0.0.1%eth0 50000 10.0.0.2 22", std::nullopt},
      {"fe80::1%e/0 50000 10.0.0.2 22", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    SshConnection got;
    EXPECT_EQ(ParseSshConnection(c.text, got), c.parsed.has_value());
    if (c.parsed) {
      EXPECT_EQ(got, *c.parsed);
    }
  }
}

}  // namespace
