#include "tests/live/veth_lab.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

namespace netvane::lab {
namespace {

std::string& SkipText() {
  static std::string text = "the private network was not set up (EnterPrivateNetwork not called)";
  return text;
}

// Named namespaces still to remove if the process dies on a signal.
constexpr int kMaxNamespaces = 8;
std::array<std::array<char, 64>, kMaxNamespaces> gNamespaces{};
std::atomic<int> gNamespaceCount{0};

void RemoveNamespacesNow() {
  // Only async-signal-safe calls: fork, execv, waitpid.
  for (int i = 0; i < gNamespaceCount.load(); ++i) {
    if (gNamespaces[i][0] == '\0') continue;
    pid_t child = fork();
    if (child == 0) {
      char* const argv[] = {const_cast<char*>("ip"), const_cast<char*>("netns"), const_cast<char*>("del"),
                            gNamespaces[i].data(), nullptr};
      execv("/usr/sbin/ip", argv);
      execv("/sbin/ip", argv);
      _exit(127);
    }
    if (child > 0) waitpid(child, nullptr, 0);
  }
}

void OnFatalSignal(int sig) {
  RemoveNamespacesNow();
  signal(sig, SIG_DFL);
  raise(sig);
}

void Register(const std::string& ns) {
  static bool handlersInstalled = false;
  if (!handlersInstalled) {
    for (int sig : {SIGSEGV, SIGABRT, SIGTERM, SIGINT, SIGBUS, SIGFPE}) signal(sig, OnFatalSignal);
    handlersInstalled = true;
  }
  const int slot = gNamespaceCount.load();
  if (slot >= kMaxNamespaces) return;
  std::snprintf(gNamespaces[slot].data(), gNamespaces[slot].size(), "%s", ns.c_str());
  gNamespaceCount.store(slot + 1);
}

void Unregister(const std::string& ns) {
  for (int i = 0; i < gNamespaceCount.load(); ++i)
    if (ns == gNamespaces[i].data()) gNamespaces[i][0] = '\0';
}

// Runs fn on a thread that has joined the named namespace; sockets it opens
// stay in that namespace.
template <typename Fn>
void InNamespace(const std::string& ns, Fn&& fn) {
  std::thread worker([&] {
    const int fd = open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    const bool joined = setns(fd, CLONE_NEWNET) == 0;
    close(fd);
    if (joined) fn();
  });
  worker.join();
}

int OpenPeerSocket(const std::string& ns, const std::string& ifname) {
  int result = -1;
  InNamespace(ns, [&] {
    const int fd = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(ETH_P_ALL));
    if (fd < 0) return;
    sockaddr_ll addr{};
    addr.sll_family = AF_PACKET;
    addr.sll_protocol = htons(ETH_P_ALL);
    addr.sll_ifindex = static_cast<int>(if_nametoindex(ifname.c_str()));
    if (addr.sll_ifindex == 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      close(fd);
      return;
    }
    timeval tv{0, 50 * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    result = fd;
  });
  return result;
}

uint16_t Be16(const Bytes& f, size_t at) {
  return static_cast<uint16_t>(f[at] << 8 | f[at + 1]);
}

std::string Dotted(const Bytes& f, size_t at) {
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, f.data() + at, text, sizeof text);
  return text;
}

}  // namespace

std::string EnterPrivateNetwork() {
  std::string& reason = SkipText();
  if (geteuid() != 0) return reason = "needs root to create network namespaces and veth pairs";
  if (Sh("command -v ip") != 0) return reason = "the ip command (iproute2) is missing";
  if (unshare(CLONE_NEWNET) != 0)
    return reason = std::string("cannot create a network namespace: ") + std::strerror(errno);
  Sh("ip link set lo up");
  // IPv6 router and neighbour chatter would interleave with the frames a test counts.
  for (const char* path :
       {"/proc/sys/net/ipv6/conf/all/disable_ipv6", "/proc/sys/net/ipv6/conf/default/disable_ipv6"}) {
    std::ofstream out(path);
    out << "1\n";
  }
  reason.clear();
  return reason;
}

const std::string& SkipReason() {
  return SkipText();
}

VethLab::VethLab() {
  if (!SkipReason().empty()) return;
  static int serial = 0;
  const std::string tag = std::to_string(getpid()) + "x" + std::to_string(serial++);
  localIf_ = "nvl" + tag + "a";
  peerIf_ = "nvl" + tag + "b";
  peerNs_ = "nvlive" + tag;
  net_ = "10.77.0";
  if (Sh("ip netns add " + peerNs_) != 0) return;
  Register(peerNs_);
  InPeer(
      "echo 1 > /proc/sys/net/ipv6/conf/all/disable_ipv6; echo 1 > "
      "/proc/sys/net/ipv6/conf/default/disable_ipv6");
  ok_ = Sh("ip link add " + localIf_ + " type veth peer name " + peerIf_ + " netns " + peerNs_) == 0 &&
        Sh("ip addr add " + localIp() + "/24 dev " + localIf_) == 0 &&
        Sh("ip link set " + localIf_ + " up") == 0 &&
        InPeer("ip addr add " + peerIp() + "/24 dev " + peerIf_ + " && ip link set " + peerIf_ +
               " up && ip link set lo up") == 0;
}

VethLab::~VethLab() {
  Sh("ip link del " + localIf_);
  if (!peerNs_.empty()) {
    Sh("ip netns del " + peerNs_);
    Unregister(peerNs_);
  }
}

Bytes VethLab::localMac() const {
  Bytes mac(6, 0);
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ifreq req{};
  std::snprintf(req.ifr_name, sizeof req.ifr_name, "%s", localIf_.c_str());
  if (fd >= 0 && ioctl(fd, SIOCGIFHWADDR, &req) == 0) std::memcpy(mac.data(), req.ifr_hwaddr.sa_data, 6);
  if (fd >= 0) close(fd);
  return mac;
}

int VethLab::InPeer(const std::string& command) const {
  std::string quoted;
  for (char c : command) quoted += (c == '\'') ? std::string("'\\''") : std::string(1, c);
  return Sh("ip netns exec " + peerNs_ + " sh -c '" + quoted + "'");
}

bool VethLab::InjectFromPeer(const std::vector<Bytes>& frames) const {
  const int fd = OpenPeerSocket(peerNs_, peerIf_);
  if (fd < 0) return false;
  bool sent = true;
  for (const Bytes& frame : frames)
    sent = sent && send(fd, frame.data(), frame.size(), 0) == static_cast<ssize_t>(frame.size());
  close(fd);
  return sent;
}

VethLab::Receiver::Receiver(const VethLab& lab) : fd_(OpenPeerSocket(lab.peerNs(), lab.peerIf())) {}

VethLab::Receiver::~Receiver() {
  if (fd_ >= 0) close(fd_);
}

std::optional<Bytes> VethLab::Receiver::Next(const std::function<bool(const Bytes&)>& match,
                                             std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  Bytes buffer(65536);
  while (fd_ >= 0 && std::chrono::steady_clock::now() < deadline) {
    const ssize_t n = recv(fd_, buffer.data(), buffer.size(), 0);
    if (n <= 0) continue;
    Bytes frame(buffer.begin(), buffer.begin() + n);
    if (match(frame)) return frame;
  }
  return std::nullopt;
}

std::optional<Bytes> VethLab::ReceiveInPeer(const std::function<bool(const Bytes&)>& match,
                                            std::chrono::milliseconds timeout) const {
  Receiver receiver(*this);
  return receiver.Next(match, timeout);
}

Bytes MarkerFrame(uint32_t index, const Bytes& dst, const Bytes& src) {
  Bytes f;
  f.insert(f.end(), dst.begin(), dst.end());
  f.insert(f.end(), src.begin(), src.end());
  f.push_back(kMarkerType >> 8);
  f.push_back(kMarkerType & 0xFF);
  for (int shift = 24; shift >= 0; shift -= 8) f.push_back(static_cast<uint8_t>(index >> shift));
  f.resize(60, 0xA5);
  return f;
}

std::optional<uint32_t> MarkerIndex(const Bytes& frame) {
  if (frame.size() < 18 || EtherType(frame) != kMarkerType) return std::nullopt;
  return uint32_t(frame[14]) << 24 | uint32_t(frame[15]) << 16 | uint32_t(frame[16]) << 8 | frame[17];
}

Bytes Ipv4UdpFrame(const std::string& srcIp, const std::string& dstIp, uint16_t dstPort) {
  Bytes f = {0x02, 0, 0, 0, 0, 0x02, 0x02, 0, 0, 0, 0, 0x01, 0x08, 0x00};
  Bytes ip(20, 0);
  ip[0] = 0x45;
  ip[3] = 28;  // total length: 20 + 8
  ip[8] = 64;
  ip[9] = 17;
  inet_pton(AF_INET, srcIp.c_str(), ip.data() + 12);
  inet_pton(AF_INET, dstIp.c_str(), ip.data() + 16);
  uint32_t sum = 0;
  for (size_t i = 0; i < 20; i += 2) sum += Be16(ip, i);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  ip[10] = static_cast<uint8_t>(~sum >> 8);
  ip[11] = static_cast<uint8_t>(~sum);
  f.insert(f.end(), ip.begin(), ip.end());
  const uint8_t udp[8] = {0x30, 0x39, uint8_t(dstPort >> 8), uint8_t(dstPort), 0, 8, 0, 0};
  f.insert(f.end(), udp, udp + 8);
  f.resize(60, 0);
  return f;
}

uint16_t EtherType(const Bytes& frame) {
  return frame.size() >= 14 ? Be16(frame, 12) : 0;
}

int IpProtocol(const Bytes& frame) {
  if (EtherType(frame) != 0x0800 || frame.size() < 34) return -1;
  return frame[23];
}

std::string IpSource(const Bytes& frame) {
  return IpProtocol(frame) < 0 ? "" : Dotted(frame, 26);
}

std::string IpDestination(const Bytes& frame) {
  return IpProtocol(frame) < 0 ? "" : Dotted(frame, 30);
}

int TransportDestinationPort(const Bytes& frame) {
  const int proto = IpProtocol(frame);
  if ((proto != 6 && proto != 17) || frame.size() < 38) return -1;
  const size_t ihl = (frame[14] & 0x0F) * 4u;
  if (frame.size() < 14 + ihl + 4) return -1;
  return Be16(frame, 14 + ihl + 2);
}

int TcpFlags(const Bytes& frame) {
  if (IpProtocol(frame) != 6) return -1;
  const size_t ihl = (frame[14] & 0x0F) * 4u;
  if (frame.size() < 14 + ihl + 14) return -1;
  return frame[14 + ihl + 13];
}

}  // namespace netvane::lab
