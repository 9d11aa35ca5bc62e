#include "capture/helper/session.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace netvane::helper {
namespace {

// Frames that arrive while the driver pauses between polls wait in the
// kernel's ring; the library's default (2 MB) holds about 100 ms of small
// frames at a few hundred thousand frames a second, this several times that.
constexpr int kCaptureBufferBytes = 32 * 1024 * 1024;
// Frames taken per library call; the budget in bytes bounds a whole read.
constexpr int kFramesPerDispatch = 256;
constexpr int kMaxDispatchesPerRead = 64;

std::string LinkTypeText(int dlt) {
  const char* name = pcap_datalink_val_to_name(dlt);
  const char* description = pcap_datalink_val_to_description(dlt);
  std::string text = name ? name : ("DLT " + std::to_string(dlt));
  if (description) text += std::string(" (") + description + ")";
  return text;
}

// Reads and clears the socket's pending error; empty when there is none. A
// non-blocking read does not report an adapter taken down; only this does.
std::string PendingSocketError(int fd) {
  if (fd < 0) return {};
  int err = 0;
  socklen_t len = sizeof err;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) < 0 || err == 0) return {};
  if (err == ENETDOWN) return "The interface went down";
  return std::strerror(err);
}

}  // namespace

ReplyStatus Session::Open(const Request& request, std::string& text) {
  Close();
  const std::string& device = request.name;
  // The library's devices that reach other subsystems (the message bus, USB,
  // Bluetooth) never carry Ethernet and are not opened with this right.
  for (const char* prefix : {"dbus-", "bluetooth", "usbmon"}) {
    if (device.rfind(prefix, 0) == 0) {
      text = device + ": not a network interface";
      return ReplyStatus::Failed;
    }
  }
  char errbuf[PCAP_ERRBUF_SIZE] = {};
  pcap_t* handle = pcap_create(device.c_str(), errbuf);
  if (!handle) {
    text = errbuf;
    return ReplyStatus::Failed;
  }
  pcap_set_snaplen(handle, static_cast<int>(request.snapLength));
  pcap_set_promisc(handle, request.promiscuous ? 1 : 0);
  pcap_set_timeout(handle, static_cast<int>(request.timeOutMs));
  pcap_set_buffer_size(handle, kCaptureBufferBytes);
  const int status = pcap_activate(handle);
  if (status < 0) {
    const std::string detail = pcap_geterr(handle);
    const bool denied = status == PCAP_ERROR_PERM_DENIED || status == PCAP_ERROR_PROMISC_PERM_DENIED;
    if (status == PCAP_ERROR)
      text = device + ": " + detail;
    else if ((status == PCAP_ERROR_NO_SUCH_DEVICE || denied) && !detail.empty())
      text = device + ": " + pcap_statustostr(status) + " (" + detail + ")";
    else
      text = device + ": " + pcap_statustostr(status);
    pcap_close(handle);
    return denied ? ReplyStatus::PermissionDenied : ReplyStatus::Failed;
  }
  const int dlt = pcap_datalink(handle);
  if (dlt != DLT_EN10MB) {
    text = LinkTypeText(dlt);
    pcap_close(handle);
    return ReplyStatus::NotEthernet;
  }
  // Reads are non-blocking; the main loop waits in poll() on the descriptor.
  if (pcap_setnonblock(handle, 1, errbuf) < 0) {
    text = errbuf;
    pcap_close(handle);
    return ReplyStatus::Failed;
  }
  handle_ = handle;
  fd_ = pcap_get_selectable_fd(handle);
  timeOutMs_ = static_cast<int>(request.timeOutMs);
  name_ = device;
  filtered_ = false;
  failing_ = false;
  return ReplyStatus::Ok;
}

void Session::Close() {
  if (handle_) pcap_close(handle_);
  handle_ = nullptr;
  fd_ = -1;
  filtered_ = false;
  failing_ = false;
}

ReplyStatus Session::SetFilter(const std::string& expression, std::string& text) {
  if (!handle_) return ReplyStatus::NotOpen;
  char errbuf[PCAP_ERRBUF_SIZE] = {};
  bpf_u_int32 net = 0;
  bpf_u_int32 mask = 0;
  // An adapter without an IPv4 network (a monitoring port, a veth) is still
  // worth capturing on; the mask only matters for broadcast-address filters.
  if (pcap_lookupnet(name_.c_str(), &net, &mask, errbuf) < 0) mask = PCAP_NETMASK_UNKNOWN;
  bpf_program program{};
  if (pcap_compile(handle_, &program, expression.c_str(), 0, mask) < 0) {
    text = pcap_geterr(handle_);
    return ReplyStatus::CompileFailed;
  }
  const bool installed = pcap_setfilter(handle_, &program) >= 0;
  pcap_freecode(&program);  // the kernel keeps its own copy
  if (!installed) {
    text = pcap_geterr(handle_);
    return ReplyStatus::InstallFailed;
  }
  filtered_ = true;
  return ReplyStatus::Ok;
}

ReplyStatus Session::Send(const std::vector<uint8_t>& frame, std::string& text) {
  if (!handle_) return ReplyStatus::NotOpen;
  if (pcap_sendpacket(handle_, frame.data(), static_cast<int>(frame.size())) == PCAP_ERROR) {
    text = pcap_geterr(handle_);
    return ReplyStatus::Failed;
  }
  return ReplyStatus::Ok;
}

ReplyStatus Session::Stats(uint32_t& received, uint32_t& dropped, std::string& text) {
  if (!handle_) return ReplyStatus::NotOpen;
  pcap_stat stats{};
  if (pcap_stats(handle_, &stats) < 0) {
    text = pcap_geterr(handle_);
    return ReplyStatus::Failed;
  }
  received = stats.ps_recv;
  dropped = stats.ps_drop;
  return ReplyStatus::Ok;
}

void Session::OnFrame(u_char* user, const pcap_pkthdr* header, const u_char* bytes) {
  auto& out = *reinterpret_cast<std::vector<uint8_t>*>(user);
  FrameHeader frame;
  frame.seconds = header->ts.tv_sec;
  frame.microseconds = static_cast<uint32_t>(header->ts.tv_usec);
  frame.capturedLength = header->caplen;
  frame.wireLength = header->len;
  AppendFrame(out, frame, bytes);
}

void Session::Fail(const std::string& reason, std::string& failure) {
  // A failing adapter fails on every read; one report per episode is enough.
  if (!failing_) failure = reason;
  failing_ = true;
}

void Session::Read(std::vector<uint8_t>& out, size_t budget, bool signalled, std::string& failure) {
  failure.clear();
  if (!delivering()) return;
  const std::string socketError = signalled ? PendingSocketError(fd_) : std::string();
  for (int round = 0; round < kMaxDispatchesPerRead && out.size() < budget; ++round) {
    const int n =
        pcap_dispatch(handle_, kFramesPerDispatch, &Session::OnFrame, reinterpret_cast<u_char*>(&out));
    if (n < 0) {
      Fail(pcap_geterr(handle_), failure);
      return;
    }
    if (!socketError.empty()) {
      Fail(socketError, failure);
      return;
    }
    failing_ = false;
    if (n < kFramesPerDispatch) return;
  }
}

}  // namespace netvane::helper
