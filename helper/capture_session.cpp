#include "helper/capture_session.h"

#include <linux/filter.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "helper/adapter_check.h"

namespace netvane::helper {
namespace {

// Frames that arrive while the driver pauses between polls wait in the
// kernel's ring; the library's default (2 MB) holds about 100 ms of small
// frames at a few hundred thousand frames a second, this several times that.
constexpr int kCaptureBufferBytes = 32 * 1024 * 1024;
// Frames taken per library call at most; fewer when the budget has room for fewer.
constexpr int kFramesPerDispatch = 256;
// Frames taken per read at most, so that requests are answered in between.
constexpr int kMaxFramesPerRead = 16384;

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

// The number of instructions the kernel holds for the socket, 0 for none.
size_t AttachedInstructions(int fd) {
  socklen_t count = 0;
  if (getsockopt(fd, SOL_SOCKET, SO_GET_FILTER, nullptr, &count) < 0) return 0;
  return count;
}

}  // namespace

ReplyStatus CaptureSession::Open(const Request& request, std::string& text) {
  Close();
  const std::string& device = request.name;
  // Asked before anything is opened: an adapter that is not Ethernet is
  // refused without the library ever touching it.
  const AdapterCheck check = AdapterChecker().Check(device);
  if (check.kind != AdapterKind::Ethernet) {
    text = check.reason;
    return check.kind == AdapterKind::NotEthernet ? ReplyStatus::NotEthernet : ReplyStatus::Failed;
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
  // The interface may have been replaced since it was asked about.
  const int dlt = pcap_datalink(handle);
  if (dlt != DLT_EN10MB) {
    text = "its link type is " + LinkTypeText(dlt) + ", not Ethernet";
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
  snapLength_ = request.snapLength;
  filtered_ = false;
  failing_ = false;
  return ReplyStatus::Ok;
}

void CaptureSession::Close() {
  if (handle_) pcap_close(handle_);
  handle_ = nullptr;
  fd_ = -1;
  filtered_ = false;
  failing_ = false;
}

ReplyStatus CaptureSession::SetFilter(const std::vector<FilterInstruction>& program, std::string& text) {
  if (!handle_) return ReplyStatus::NotOpen;
  std::vector<bpf_insn> instructions;
  instructions.reserve(program.size());
  for (const FilterInstruction& in : program) instructions.push_back({in.code, in.jt, in.jf, in.k});
  bpf_program attached{static_cast<u_int>(instructions.size()), instructions.data()};
  if (pcap_setfilter(handle_, &attached) < 0) {
    text = pcap_geterr(handle_);
    return ReplyStatus::InstallFailed;
  }
  // Where the kernel refuses a program the library quietly filters here
  // instead; ask the kernel what it holds, and learn its reason by asking again.
  if (AttachedInstructions(fd_) != program.size()) {
    const sock_fprog again{static_cast<unsigned short>(instructions.size()),
                           reinterpret_cast<sock_filter*>(instructions.data())};
    const bool refused = setsockopt(fd_, SOL_SOCKET, SO_ATTACH_FILTER, &again, sizeof again) < 0;
    text = "the kernel refused the filter of " + std::to_string(program.size()) + " instructions" +
           (refused ? std::string(": ") + std::strerror(errno) : std::string());
    Close();
    return ReplyStatus::InstallFailed;
  }
  filtered_ = true;
  return ReplyStatus::Ok;
}

ReplyStatus CaptureSession::Send(const std::vector<uint8_t>& frame, std::string& text) {
  if (!handle_) return ReplyStatus::NotOpen;
  if (pcap_sendpacket(handle_, frame.data(), static_cast<int>(frame.size())) == PCAP_ERROR) {
    text = pcap_geterr(handle_);
    return ReplyStatus::Failed;
  }
  return ReplyStatus::Ok;
}

ReplyStatus CaptureSession::Stats(uint32_t& received, uint32_t& dropped, std::string& text) {
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

void CaptureSession::OnFrame(u_char* user, const pcap_pkthdr* header, const u_char* bytes) {
  auto& out = *reinterpret_cast<std::vector<uint8_t>*>(user);
  FrameHeader frame;
  frame.seconds = header->ts.tv_sec;
  frame.microseconds = static_cast<uint32_t>(header->ts.tv_usec);
  frame.capturedLength = header->caplen;
  frame.wireLength = header->len;
  AppendFrame(out, frame, bytes);
}

void CaptureSession::Fail(const std::string& reason, std::string& failure) {
  // A failing adapter fails on every read; one report per episode is enough.
  if (!failing_) failure = reason;
  failing_ = true;
}

void CaptureSession::Read(std::vector<uint8_t>& out, size_t budget, bool signalled, std::string& failure) {
  failure.clear();
  if (!delivering()) return;
  const std::string socketError = signalled ? PendingSocketError(fd_) : std::string();
  const size_t largestMessage = kHeaderSize + kFrameHeaderSize + snapLength_;
  for (int taken = 0; taken < kMaxFramesPerRead && out.size() < budget;) {
    // As many frames as the budget has room for at the largest, at least one.
    const size_t room = (budget - out.size()) / largestMessage;
    const int count = static_cast<int>(std::clamp<size_t>(room, 1, kFramesPerDispatch));
    const int n = pcap_dispatch(handle_, count, &CaptureSession::OnFrame, reinterpret_cast<u_char*>(&out));
    if (n < 0) {
      Fail(pcap_geterr(handle_), failure);
      return;
    }
    if (!socketError.empty()) {
      Fail(socketError, failure);
      return;
    }
    failing_ = false;
    if (n < count) return;
    taken += n;
  }
}

}  // namespace netvane::helper
