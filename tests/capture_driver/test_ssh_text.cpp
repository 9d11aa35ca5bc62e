// What remote capture reads and writes as text, without root, a network or
// an sshd: NETVANE_SSH (and that netvane-dump refuses a bad one as a usage
// error instead of aborting), ssh:// names, the filter that leaves the SSH
// connection out, and the failure texts, from an "ssh" that fails as the
// real one does.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pcap/pcap.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

#include "capture/host_filter.h"
#include "capture/remote_name.h"
#include "capture/ssh_command.h"
#include "capture/ssh_link.h"

extern char** environ;

namespace {

using netvane::helper::Endpoint;
using netvane::helper::SshConnection;

struct DumpRun {
  int status = -1;  // -1: killed, or did not end within 10 s
  std::string err;
};

// netvane-dump with `args` and NETVANE_SSH set to `ssh`.
DumpRun RunDump(const std::vector<std::string>& args, const std::string& ssh) {
  const std::string errFile = "/tmp/nvsshtext" + std::to_string(getpid()) + ".err";
  std::vector<std::string> env = {"NETVANE_SSH=" + ssh};
  for (char** e = environ; *e != nullptr; ++e)
    if (std::string_view(*e).rfind("NETVANE_SSH=", 0) != 0) env.emplace_back(*e);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> words = {NETVANE_DUMP};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = -1;
  DumpRun r;
  const int spawned = posix_spawn(&pid, NETVANE_DUMP, &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return r;
  int raw = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (waitpid(pid, &raw, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &raw, 0);
      raw = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  r.status = raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  std::stringstream err;
  err << std::ifstream(errFile).rdbuf();
  r.err = err.str();
  std::remove(errFile.c_str());
  return r;
}

// NETVANE_SSH as read, and for each value that cannot be used, netvane-dump
// listing or capturing over SSH: a usage error that says why, never an abort.
TEST(SshCommand, NetvaneSshIsReadStrictlyAndABadOneIsAUsageError) {
  using Words = std::vector<std::string>;
  const struct Case {
    const char* text;
    Words words;          // empty: refused
    int timeoutS;         // the ConnectTimeout ssh will use
    const char* refusal;  // the start of why it is refused
  } cases[] = {
      {"", {"ssh"}, 5, ""},
      {"ssh -F my_config", {"ssh", "-F", "my_config"}, 5, ""},
      {"'/opt/my ssh/bin/ssh' -F \"a b\" x\\ y", {"/opt/my ssh/bin/ssh", "-F", "a b", "x y"}, 5, ""},
      {"ssh \"a\\\"b\\$c\\d\"", {"ssh", "a\"b$c\\d"}, 5, ""},
      {"ssh -o ConnectTimeout=3", {"ssh", "-o", "ConnectTimeout=3"}, 3, ""},
      {"ssh -oconnecttimeout=2m", {"ssh", "-oconnecttimeout=2m"}, 120, ""},
      {"ssh -o 'ConnectTimeout = 1m30s'", {"ssh", "-o", "ConnectTimeout = 1m30s"}, 90, ""},
      {"ssh -vo ConnectTimeout=7", {"ssh", "-vo", "ConnectTimeout=7"}, 7, ""},
      // ssh keeps the first value; a later one only has to be good.
      {"ssh -o ConnectTimeout=4 -o ConnectTimeout=9",
       {"ssh", "-o", "ConnectTimeout=4", "-o", "ConnectTimeout=9"},
       4,
       ""},
      // Values of other options are not options.
      {"ssh -F -oConnectTimeout=abc", {"ssh", "-F", "-oConnectTimeout=abc"}, 5, ""},
      {"ssh -o ConnectTimeout=1h", {"ssh", "-o", "ConnectTimeout=1h"}, 3600, ""},
      {"   ", {}, 0, "NETVANE_SSH names no command"},
      {"'' -F x", {}, 0, "NETVANE_SSH names no command"},
      {"ssh 'oops", {}, 0, "NETVANE_SSH cannot be read: a ' is not closed"},
      {"ssh \"oops", {}, 0, "NETVANE_SSH cannot be read: a \" is not closed"},
      {"ssh oops\\", {}, 0, "NETVANE_SSH cannot be read: it ends in a '\\'"},
      {"-o ConnectTimeout=3", {}, 0, "NETVANE_SSH begins with the option -o"},
      {"ssh -o", {}, 0, "NETVANE_SSH ends with -o, which needs a value"},
      {"ssh -vp", {}, 0, "NETVANE_SSH ends with -p, which needs a value"},
      {"ssh -o ConnectTimeout=", {}, 0, "NETVANE_SSH sets ConnectTimeout to \"\""},
      {"ssh -o ConnectTimeout", {}, 0, "NETVANE_SSH sets ConnectTimeout to \"\""},
      {"ssh -o ConnectTimeout=abc", {}, 0, "NETVANE_SSH sets ConnectTimeout to \"abc\""},
      {"ssh -oConnectTimeout=99999999999999999999",
       {},
       0,
       "NETVANE_SSH sets ConnectTimeout to \"99999999999999999999\""},
      {"ssh -o ConnectTimeout=0", {}, 0, "NETVANE_SSH sets ConnectTimeout to \"0\""},
      {"ssh -o ConnectTimeout=-5", {}, 0, "NETVANE_SSH sets ConnectTimeout to \"-5\""},
      {"ssh -o ConnectTimeout=+5", {}, 0, "NETVANE_SSH sets ConnectTimeout to \"+5\""},
      {"ssh -o ConnectTimeout=3601", {}, 0, "NETVANE_SSH sets ConnectTimeout to \"3601\""},
      {"ssh -o ConnectTimeout=2w", {}, 0, "NETVANE_SSH sets ConnectTimeout to \"2w\""},
      {"ssh -o ConnectTimeout=5x", {}, 0, "NETVANE_SSH sets ConnectTimeout to \"5x\""},
      {"ssh -o 'ConnectTimeout=5 6'", {}, 0, "NETVANE_SSH sets ConnectTimeout to \"5 6\""},
      {"ssh -o ConnectTimeout=3 -o ConnectTimeout=x", {}, 0, "NETVANE_SSH sets ConnectTimeout to \"x\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("NETVANE_SSH=") + c.text);
    netvane::SshCommand command;
    std::string error;
    const bool taken = netvane::ParseSshCommand(c.text, command, error);
    ASSERT_EQ(taken, !c.words.empty()) << error;
    if (taken) {
      EXPECT_EQ(command.words, c.words);
      EXPECT_EQ(command.connectTimeoutS, c.timeoutS);
      continue;
    }
    EXPECT_EQ(error.rfind(c.refusal, 0), 0u) << error;
    for (const std::vector<std::string>& args : {std::vector<std::string>{"-D", "ssh://nv-test.invalid"},
                                                 {"-i", "ssh://nv-test.invalid/eth0", "-c", "1"}}) {
      const DumpRun r = RunDump(args, c.text);
      EXPECT_EQ(r.status, 2) << args[0] << ": " << r.err;
      EXPECT_EQ(r.err.rfind("netvane-dump: " + error + "\n", 0), 0u) << args[0] << ": " << r.err;
    }
  }
}

// Names of remote hosts and adapters: what is taken reads back the same,
// and nothing that ssh could take for an option or a shell would read
// gets through.
TEST(RemoteName, HostsAndAdaptersAreParsedStrictly) {
  const struct Case {
    const char* text;
    const char* hostText;  // empty: refused
    const char* adapter;   // empty: a host alone (ParseRemoteHost)
    const char* refusal;
  } cases[] = {
      {"ssh://admin@router/eth1", "admin@router", "eth1", ""},
      {"ssh://lab:2222/enp3s0", "lab:2222", "enp3s0", ""},
      {"ssh://root@[fe80::1]:22/lo", "root@[fe80::1]:22", "lo", ""},
      {"ssh://[2001:db8::7]/eth0", "[2001:db8::7]", "eth0", ""},
      {"ssh://10.0.0.2:00022/eth0", "10.0.0.2:22", "eth0", ""},
      {"ssh://admin@router", "admin@router", "", ""},
      {"ssh://admin@router/", "admin@router", "", ""},
      {"lab:2222", "lab:2222", "", ""},
      {"ssh://router", "", "eth0", "no adapter after the host"},
      {"ssh://router/", "", "eth0", "adapter"},
      {"ssh://router/..", "", "eth0", "adapter"},
      {"ssh://router/a b", "", "eth0", "adapter"},
      {"router/eth0", "", "eth0", "a remote adapter is named ssh://"},
      {"ssh://-oProxyCommand=x/eth0", "", "eth0", "the host must be"},
      {"ssh://-oProxyCommand=x", "", "", "the host must be"},
      {"ssh://router;reboot", "", "", "the host must be"},
      {"ssh://", "", "", "the host must be"},
      {"ssh://-l@router", "", "", "the user name must be"},
      {"ssh://@router", "", "", "the user name must be"},
      {"ssh://a$b@router", "", "", "the user name must be"},
      {"ssh://a@b@router", "", "", "the host must be"},
      {"ssh://router:", "", "", "the port must be"},
      {"ssh://router:0", "", "", "the port must be"},
      {"ssh://router:65536", "", "", "the port must be"},
      {"ssh://router:+22", "", "", "the port must be"},
      {"ssh://router:123456", "", "", "the port must be"},
      {"ssh://router:22a", "", "", "the port must be"},
      {"ssh://fe80::1", "", "", "an IPv6 address goes in brackets"},
      {"ssh://[fe80::1", "", "", "an address in brackets"},
      {"ssh://[", "", "", "an address in brackets"},
      {"ssh://[]", "", "", "an address in brackets"},
      {"ssh://[router]", "", "", "an address in brackets"},
      {"ssh://[fe80::1]x", "", "", "an address in brackets"},
      {"ssh://[fe80::1]:0", "", "", "the port must be"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    netvane::RemoteTarget target;
    std::string error;
    const bool taken = *c.adapter != '\0' ? netvane::ParseRemoteAdapter(c.text, target, error)
                                          : netvane::ParseRemoteHost(c.text, target, error);
    ASSERT_EQ(taken, *c.hostText != '\0') << error;
    if (!taken) {
      EXPECT_NE(error.find(c.refusal), std::string::npos) << error;
      continue;
    }
    EXPECT_EQ(target.HostText(), c.hostText);
    if (*c.adapter == '\0') continue;
    EXPECT_EQ(target.adapter, c.adapter);
    EXPECT_EQ(target.Description(), std::string(c.adapter) + " on " + c.hostText);
    // The name the adapter box and netvane-dump -D give reads back the same.
    netvane::RemoteTarget again;
    ASSERT_TRUE(netvane::ParseRemoteAdapter(target.AdapterName(), again, error)) << error;
    EXPECT_EQ(again.AdapterName(), target.AdapterName());
    EXPECT_EQ(again.port, target.port);
  }
}

// Frames of one TCP segment, as the kernel would hand them to the filter.
std::vector<uint8_t> Segment(const Endpoint& from, const Endpoint& to, uint8_t protocol = 6) {
  std::vector<uint8_t> frame(12, 0);
  if (from.family == 4) {
    frame.insert(frame.end(), {0x08, 0x00, 0x45, 0, 0, 40, 0, 0, 0, 0, 64, protocol, 0, 0});
    frame.insert(frame.end(), from.address.begin(), from.address.begin() + 4);
    frame.insert(frame.end(), to.address.begin(), to.address.begin() + 4);
  } else {
    frame.insert(frame.end(), {0x86, 0xDD, 0x60, 0, 0, 0, 0, 20, protocol, 64});
    frame.insert(frame.end(), from.address.begin(), from.address.end());
    frame.insert(frame.end(), to.address.begin(), to.address.end());
  }
  frame.insert(frame.end(), {uint8_t(from.port >> 8),
                             uint8_t(from.port),
                             uint8_t(to.port >> 8),
                             uint8_t(to.port),
                             0,
                             0,
                             0,
                             0,
                             0,
                             0,
                             0,
                             0,
                             0x50,
                             0x10,
                             0,
                             0,
                             0,
                             0,
                             0,
                             0});
  return frame;
}

// The expression with the SSH connection left out, compiled as the driver
// compiles it and run on frames: only that connection's frames, both ways,
// go; the expression still applies to the rest.
TEST(WithoutConnection, LeavesOutThatConnectionBothWaysAndNothingElse) {
  const Endpoint client{4, {10, 0, 0, 1}, 50000};
  const Endpoint server{4, {10, 0, 0, 2}, 22};
  const Endpoint client6{6, {0xFE, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, 50000};
  const Endpoint server6{6, {0x20, 0x01, 0x0D, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2}, 22};
  const auto with = [](Endpoint end, uint16_t port) {
    end.port = port;
    return end;
  };
  const Endpoint other{4, {10, 0, 0, 9}, 50000};
  const SshConnection v4{client, server};
  const SshConnection v6{client6, server6};
  const struct Case {
    const char* what;
    SshConnection connection;
    const char* expression;
    std::vector<uint8_t> frame;
    bool kept;
  } cases[] = {
      {"client to server", v4, "", Segment(client, server), false},
      {"server to client", v4, "", Segment(server, client), false},
      {"another port of the client", v4, "", Segment(with(client, 50001), server), true},
      {"another host to the same port", v4, "", Segment(other, server), true},
      {"the two ports the other way round", v4, "", Segment(with(client, 22), with(server, 50000)), true},
      {"the same ports over UDP", v4, "", Segment(client, server, 17), true},
      {"IPv6 client to server", v6, "", Segment(client6, server6), false},
      {"IPv6 server to client", v6, "", Segment(server6, client6), false},
      {"IPv6, another port", v6, "", Segment(with(client6, 50001), server6), true},
      {"the connection, with an expression", v4, "host 10.0.0.9 or port 22", Segment(client, server), false},
      {"what the expression takes", v4, "host 10.0.0.9 or port 22", Segment(other, server), true},
      {"what the expression leaves", v4, "host 10.0.0.9", Segment(with(client, 50001), server), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string expression = netvane::WithoutConnection(c.expression, c.connection);
    std::vector<netvane::helper::FilterInstruction> program;
    std::string error;
    ASSERT_TRUE(netvane::CompileFilter(expression, 20000, 0xFFFFFFFF, program, error)) << expression << error;
    std::vector<bpf_insn> instructions;
    for (const auto& in : program) instructions.push_back({in.code, in.jt, in.jf, in.k});
    const u_int size = u_int(c.frame.size());
    EXPECT_EQ(bpf_filter(instructions.data(), c.frame.data(), size, size) != 0, c.kept) << expression;
  }
}

// The failure texts, from an "ssh" that says on standard error what the real
// one says and exits as it does (NETVANE_SSH runs sh instead), through the
// listing the window runs on its own thread; and a bad NETVANE_SSH there.
TEST(SshFailure, EachTextSaysWhatToDo) {
  const std::string host = "admin@router";
  const struct Case {
    const char* said;  // on standard error
    int status;
    const char* message;
  } cases[] = {
      {"ssh: connect to host router port 22: No route to host", 255,
       "cannot reach admin@router (ssh: connect to host router port 22: No route to host)"},
      {"admin@router: Permission denied (publickey).", 255,
       "admin@router refused the login (admin@router: Permission denied (publickey).): Netvane logs in with "
       "a key or an agent, never a password; set one up so that ssh admin@router -o BatchMode=yes works"},
      {"Host key verification failed.", 255,
       "the host key of admin@router is not known here or has changed (Host key verification failed.): "
       "connect once with ssh admin@router and check it"},
      {"sh: 1: /usr/libexec/netvane/netvane-capture: not found", 127,
       "Netvane is not installed on admin@router (sh: 1: /usr/libexec/netvane/netvane-capture: not found): "
       "install it there, or name its helper with NETVANE_REMOTE_HELPER"},
      {"sh: 1: /usr/libexec/netvane/netvane-capture: Permission denied", 126,
       "not allowed to capture on admin@router (sh: 1: /usr/libexec/netvane/netvane-capture: Permission "
       "denied): ask its administrator to add admin to its group netvane, then log in again"},
      {"", 1, "the capture helper on admin@router ended"},
  };
  netvane::RemoteTarget target;
  std::string error;
  ASSERT_TRUE(netvane::ParseRemoteHost(host, target, error)) << error;
  unsetenv("NETVANE_REMOTE_HELPER");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.said);
    const std::string script = std::string("echo '") + c.said + "' >&2; exit " + std::to_string(c.status);
    setenv("NETVANE_SSH", ("sh -c \"" + script + "\"").c_str(), 1);
    std::vector<std::string> names;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(netvane::ListRemoteAdapters(target, names, error));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(error.rfind(c.message, 0), 0u) << error;
  }
  setenv("NETVANE_SSH", "ssh -o ConnectTimeout=", 1);
  std::vector<std::string> names;
  EXPECT_FALSE(netvane::ListRemoteAdapters(target, names, error));
  EXPECT_EQ(error.rfind("NETVANE_SSH sets ConnectTimeout to \"\"", 0), 0u) << error;
  unsetenv("NETVANE_SSH");
}

}  // namespace
