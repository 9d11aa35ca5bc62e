// Capture on another host over SSH, against a real OpenSSH server: an sshd of
// the test's own runs in the peer namespace of a veth pair, with a host key,
// a client key and a client configuration made for it, which netvane-dump is
// given through NETVANE_SSH; the helper it runs there is the build tree's,
// named by NETVANE_REMOTE_HELPER, run as root (it keeps CAP_NET_RAW alone).
// The capture is of the adapter that carries the SSH connection itself.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "capture/helper_link.h"
#include "capture/ssh_link.h"
#include "tests/live/dump_run.h"

namespace {

using namespace netvane::lab;
using Clock = std::chrono::steady_clock;

constexpr uint16_t kSshPort = 2222;
constexpr size_t kFullSize = 1514;

// A TCP connection from this namespace to `ip`:`port`, closed at once; the
// local port it had, 0 when it failed.
uint16_t Touch(const std::string& ip, uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  inet_pton(AF_INET, ip.c_str(), &to.sin_addr);
  uint16_t local = 0;
  if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
    sockaddr_in self{};
    socklen_t length = sizeof self;
    getsockname(fd, reinterpret_cast<sockaddr*>(&self), &length);
    local = ntohs(self.sin_port);
  }
  if (fd >= 0) close(fd);
  return local;
}

// An sshd in the lab's peer namespace, listening on its address, and the
// environment that makes netvane-dump reach it.
class SshServer {
 public:
  explicit SshServer(const VethLab& lab) {
    if (access("/usr/sbin/sshd", X_OK) != 0) {
      skip_ = "no sshd (openssh-server is not installed)";
      return;
    }
    if (Sh("{ command -v ssh && command -v ssh-keygen; }") != 0) {
      skip_ = "no ssh client (openssh-client is not installed)";
      return;
    }
    char dirTemplate[] = "/tmp/nvsshXXXXXX";
    if (mkdtemp(dirTemplate) == nullptr) return;
    dir_ = dirTemplate;
    if (Sh("ssh-keygen -q -t ed25519 -N '' -f " + dir_ + "/host_key") != 0 ||
        Sh("ssh-keygen -q -t ed25519 -N '' -f " + dir_ + "/client_key") != 0)
      return;
    std::filesystem::copy_file(dir_ + "/client_key.pub", dir_ + "/authorized_keys");
    std::ofstream(dir_ + "/sshd_config") << "Port " << kSshPort << "\nListenAddress " << lab.peerIp()
                                         << "\nHostKey " << dir_ << "/host_key\nAuthorizedKeysFile " << dir_
                                         << "/authorized_keys\nPermitRootLogin prohibit-password\n"
                                            "PasswordAuthentication no\nKbdInteractiveAuthentication no\n"
                                            "UsePAM no\nStrictModes no\nPidFile none\n";
    std::string hostKey;
    std::getline(std::ifstream(dir_ + "/host_key.pub"), hostKey);
    std::ofstream(dir_ + "/known_hosts") << "[" << lab.peerIp() << "]:" << kSshPort << " " << hostKey << "\n";
    std::ofstream(dir_ + "/ssh_config") << "Host *\n  IdentityFile " << dir_
                                        << "/client_key\n  IdentitiesOnly yes\n  UserKnownHostsFile " << dir_
                                        << "/known_hosts\n  GlobalKnownHostsFile /dev/null\n"
                                           "  StrictHostKeyChecking yes\n  LogLevel ERROR\n";
    std::filesystem::create_directories("/run/sshd");  // sshd's own empty directory

    const std::string config = dir_ + "/sshd_config";
    const std::string log = dir_ + "/sshd.log";
    std::vector<std::string> args = {"ip", "netns", "exec", lab.peerNs(), "/usr/sbin/sshd",
                                     "-D", "-e",    "-f",   config};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (posix_spawnp(&pid_, "ip", &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (pid_ > 0 && Touch(lab.peerIp(), kSshPort) == 0 && Clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (Touch(lab.peerIp(), kSshPort) == 0) {
      skip_ = "sshd did not start: " + netvane::testing::ShLine("tail -n 1 " + log);
      return;
    }
    setenv("NETVANE_SSH", ("ssh -F " + dir_ + "/ssh_config").c_str(), 1);
    setenv("NETVANE_REMOTE_HELPER", netvane::CaptureHelperPath().c_str(), 1);
    host_ = "root@" + lab.peerIp() + ":" + std::to_string(kSshPort);
  }
  ~SshServer() {
    unsetenv("NETVANE_SSH");
    unsetenv("NETVANE_REMOTE_HELPER");
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }
  // Why it is not running; empty when it is.
  std::string skip() const { return host_.empty() && skip_.empty() ? "sshd could not be set up" : skip_; }
  // ssh://root@ADDRESS:PORT
  std::string url() const { return "ssh://" + host_; }

 private:
  std::string dir_, skip_, host_;
  pid_t pid_ = -1;
};

// The children of `parent`.
std::vector<pid_t> Children(pid_t parent) {
  std::ifstream in("/proc/" + std::to_string(parent) + "/task/" + std::to_string(parent) + "/children");
  std::vector<pid_t> children;
  for (pid_t child; in >> child;) children.push_back(child);
  return children;
}

// Full-size frames sent onto the adapter that carries the SSH connection, and
// other TCP connections to the same sshd meanwhile: the frames arrive as
// sent, the other connections' frames are there, the capture's own
// connection's are not. The ssh client runs in a process group of its own,
// which a Ctrl-C at netvane-dump's terminal does not reach.
TEST(RemoteCapture, CapturesTheSshAdapterWithoutItsOwnConnection) {
  if (!SkipReason().empty()) GTEST_SKIP() << SkipReason();
  VethLab lab;
  if (!lab.ok()) GTEST_SKIP() << "could not create a veth pair in a namespace";
  SshServer server(lab);
  if (!server.skip().empty()) GTEST_SKIP() << server.skip();
  const std::string remote = server.url() + "/" + lab.peerIf();

  const Result list = RunDump("-D " + server.url());
  EXPECT_EQ(list.status, 0) << list.err;
  EXPECT_NE(list.out.find("\t" + remote + "\n"), std::string::npos) << list.out;

  const std::string file = "/tmp/nvremote" + std::to_string(getpid()) + ".pcap";
  std::set<uint16_t> otherPorts;
  BackgroundDump dump({"-i", remote, "-w", file});
  // Connecting takes seconds on a loaded machine; the frames go out once it listens.
  ASSERT_TRUE(dump.WaitForErr("listening on ", std::chrono::seconds(15))) << dump.Err();
  {
    Sender sender(lab, kFullSize);
    for (int turn = 0; turn < 30; ++turn) {
      if (const uint16_t port = Touch(lab.peerIp(), kSshPort)) otherPorts.insert(port);
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
  const std::vector<pid_t> children = Children(dump.pid());
  EXPECT_EQ(children.size(), 1u) << "netvane-dump runs one ssh";
  for (const pid_t child : children) EXPECT_NE(getpgid(child), getpgid(dump.pid()));
  kill(dump.pid(), SIGINT);
  const int status = dump.Wait(std::chrono::seconds(20));
  const std::string err = dump.Err();
  bool clean = false;
  const std::vector<PcapRecord> records = ReadPcap(file, clean);
  std::remove(file.c_str());
  EXPECT_EQ(status, 0) << err;
  EXPECT_TRUE(clean);

  std::vector<PcapRecord> markers;
  size_t otherFrames = 0;
  for (const PcapRecord& r : records) {
    if (MarkerIndex(r.bytes)) {
      markers.push_back(r);
      continue;
    }
    const int to = TransportDestinationPort(r.bytes);
    if (IpProtocol(r.bytes) != 6 || to < 0) continue;
    // The sshd port on one end: the other end must be one of the test's own connections.
    const int from = (r.bytes[34] << 8) | r.bytes[35];
    const int client = to == kSshPort ? from : to;
    ASSERT_TRUE(to == kSshPort || from == kSshPort) << from << " -> " << to;
    EXPECT_EQ(otherPorts.count(uint16_t(client)), 1u)
        << "a frame of the capture's own connection, port " << client;
    ++otherFrames;
  }
  EXPECT_GT(otherFrames, 0u) << "the other connections to the same sshd are captured";
  EXPECT_GE(markers.size(), 20u) << err;
  ExpectSentMarkers(markers, err, kFullSize);
}

// Each failure ends within ssh's connect timeout and a second, with a message
// that names the host, and a bad name is a usage error.
TEST(RemoteCapture, FailuresNameTheHostAndEndInTime) {
  if (!SkipReason().empty()) GTEST_SKIP() << SkipReason();
  VethLab lab;
  if (!lab.ok()) GTEST_SKIP() << "could not create a veth pair in a namespace";
  SshServer server(lab);
  if (!server.skip().empty()) GTEST_SKIP() << server.skip();
  // An address of the lab's network that no host has.
  const std::string nowhere =
      "root@" + lab.peerIp().substr(0, lab.peerIp().rfind('.')) + ".99:" + std::to_string(kSshPort);
  const struct {
    std::string args;
    int status;
    std::string says;
  } cases[] = {
      {"-D ssh://" + nowhere, 1, "cannot reach " + nowhere},
      {"-i ssh://" + nowhere + "/eth0 -c 1", 1, "cannot reach " + nowhere},
      {"-i " + server.url() + "/nv-nosuch0 -c 1", 1,
       "no such network interface on " + server.url().substr(6)},
      {"-i ssh://-oProxyCommand=x/eth0", 2, "the host must be"},
      {"-D ssh://host:0", 2, "the port must be"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const auto start = Clock::now();
    const Result r = RunDump(c.args);
    const auto took = Clock::now() - start;
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_LT(took, std::chrono::seconds(netvane::kSshConnectTimeoutS + 1) + std::chrono::milliseconds(500));
  }
}

}  // namespace
