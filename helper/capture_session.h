#pragma once
// The one adapter the helper has open: opening it as the driver asks, its
// filter, sending, the kernel's counters, and reading its frames into
// messages for the driver.

#include <pcap/pcap.h>

#include <cstdint>
#include <string>
#include <vector>

#include "helper/protocol.h"

namespace netvane::helper {

class CaptureSession {
 public:
  CaptureSession() = default;
  ~CaptureSession() { Close(); }
  CaptureSession(const CaptureSession&) = delete;
  CaptureSession& operator=(const CaptureSession&) = delete;

  // Closes any open adapter first. Only an Ethernet or loopback interface is
  // opened; `text` carries the reason of a failure or a refusal.
  ReplyStatus Open(const Request& request, std::string& text);
  void Close();
  // Frames flow once a filter is attached (the driver sends one that takes
  // every frame when it wants them all).
  bool delivering() const { return handle_ != nullptr && filtered_; }
  int fd() const { return fd_; }
  int timeOutMs() const { return timeOutMs_; }
  bool failing() const { return failing_; }

  // Attaches a checked program in the kernel. A program the kernel refuses
  // is a failure that closes the adapter: the capture library would filter
  // in this process instead, which is not what was asked.
  ReplyStatus SetFilter(const std::vector<FilterInstruction>& program, std::string& text);
  ReplyStatus Send(const std::vector<uint8_t>& frame, std::string& text);
  ReplyStatus Stats(uint32_t& received, uint32_t& dropped, std::string& text);

  // Appends Frame messages to `out` until no frame waits or `out` holds
  // `budget` bytes (passed by one frame at most). `signalled`: the descriptor
  // reported an error condition. A failure that starts an episode is put in
  // `failure` (empty otherwise); the episode ends with the next read that
  // succeeds.
  void Read(std::vector<uint8_t>& out, size_t budget, bool signalled, std::string& failure);

 private:
  static void OnFrame(u_char* user, const pcap_pkthdr* header, const u_char* bytes);
  void Fail(const std::string& reason, std::string& failure);

  pcap_t* handle_ = nullptr;
  int fd_ = -1;
  int timeOutMs_ = 0;
  size_t snapLength_ = 0;
  bool filtered_ = false;
  bool failing_ = false;
};

}  // namespace netvane::helper
