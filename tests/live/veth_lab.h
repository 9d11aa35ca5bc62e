#pragma once
// A private network for one test process: the process moves into a network
// namespace of its own (so only its own adapters are listed), creates a veth
// pair there and moves the peer end into a second, named namespace that plays
// the other hosts. Everything is removed at the end, also when a test fails or
// the process dies on a signal.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/shell.h"

namespace netvane::lab {

using Bytes = std::vector<uint8_t>;

// Call first in main(), before any thread exists: moves the process into a
// network namespace of its own. Returns an empty text on success, else why not.
std::string EnterPrivateNetwork();
// Why the real-interface tests cannot run here (empty when they can).
const std::string& SkipReason();

using netvane::testing::Sh;  // runs through /bin/sh, output discarded

class VethLab {
 public:
  VethLab();
  ~VethLab();
  VethLab(const VethLab&) = delete;
  VethLab& operator=(const VethLab&) = delete;

  bool ok() const { return ok_; }
  const std::string& localIf() const { return localIf_; }
  const std::string& peerIf() const { return peerIf_; }
  const std::string& peerNs() const { return peerNs_; }
  std::string localIp() const { return net_ + ".1"; }
  std::string peerIp() const { return net_ + ".2"; }
  Bytes localMac() const;

  // Runs a shell command inside the peer namespace.
  int InPeer(const std::string& command) const;
  // Sends raw frames out of the peer end, so they arrive at the local end.
  bool InjectFromPeer(const std::vector<Bytes>& frames) const;
  // Receives on the peer end until `match` accepts a frame or the time runs out.
  std::optional<Bytes> ReceiveInPeer(const std::function<bool(const Bytes&)>& match,
                                     std::chrono::milliseconds timeout) const;
  // Opens a raw socket in the peer namespace and keeps it until ~Receiver;
  // lets a test start listening before it sends.
  class Receiver {
   public:
    explicit Receiver(const VethLab& lab);
    ~Receiver();
    std::optional<Bytes> Next(const std::function<bool(const Bytes&)>& match,
                              std::chrono::milliseconds timeout);
    bool ok() const { return fd_ >= 0; }

   private:
    int fd_ = -1;
  };

 private:
  bool ok_ = false;
  std::string localIf_, peerIf_, peerNs_, net_;
};

// Frame builders for the tests. kMarkerType frames carry a 32-bit index.
inline constexpr uint16_t kMarkerType = 0x88B5;
Bytes MarkerFrame(uint32_t index, const Bytes& dst = {0x02, 0, 0, 0, 0, 0x02},
                  const Bytes& src = {0x02, 0, 0, 0, 0, 0x01});
std::optional<uint32_t> MarkerIndex(const Bytes& frame);
Bytes Ipv4UdpFrame(const std::string& srcIp, const std::string& dstIp, uint16_t dstPort);
uint16_t EtherType(const Bytes& frame);
int IpProtocol(const Bytes& frame);        // -1 when not IPv4
std::string IpSource(const Bytes& frame);  // dotted, empty when not IPv4
std::string IpDestination(const Bytes& frame);
int TransportDestinationPort(const Bytes& frame);  // UDP/TCP, -1 otherwise
int TcpFlags(const Bytes& frame);                  // -1 when not TCP

}  // namespace netvane::lab
