#include "capture/KelWinPcapNetMonitor.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "capture/adapter_list.h"

namespace {

// Without a time-out a read would wait for the next frame forever; a bounded
// wait keeps every turn of the worker short.
constexpr int kFallbackWaitMs = 1000;

std::string LinkTypeText(int dlt) {
  const char* name = pcap_datalink_val_to_name(dlt);
  const char* description = pcap_datalink_val_to_description(dlt);
  std::string text = name ? name : ("DLT " + std::to_string(dlt));
  if (description) text += std::string(" (") + description + ")";
  return text;
}

// The link type the adapter would report when opened, or -1 when it cannot be
// opened here (no permission, gone): such an adapter stays listed and bind
// reports why.
int ProbeLinkType(const char* name) {
  char errbuf[PCAP_ERRBUF_SIZE] = {};
  pcap_t* probe = pcap_create(name, errbuf);
  if (!probe) return -1;
  pcap_set_snaplen(probe, 64);
  pcap_set_buffer_size(probe, 64 * 1024);
  pcap_set_timeout(probe, 1);
  int dlt = -1;
  if (pcap_activate(probe) >= 0) dlt = pcap_datalink(probe);
  pcap_close(probe);
  return dlt;
}

// Reads and clears the socket's pending error; empty when there is none.
std::string PendingSocketError(int fd) {
  if (fd < 0) return {};
  int err = 0;
  socklen_t len = sizeof err;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) < 0 || err == 0) return {};
  if (err == ENETDOWN) return "The interface went down";
  return std::strerror(err);
}

// Frames that arrive while the worker pauses between polls wait in the
// kernel's ring; the library's default (2 MB) holds about 100 ms of small
// frames at a few hundred thousand frames a second, this several times that.
constexpr int kCaptureBufferBytes = 32 * 1024 * 1024;

// pcap_open_live with a larger ring: same settings (snapshot length,
// promiscuous, read time-out) and the same error text in `reason`.
pcap_t* OpenLive(const std::string& device, int snaplen, int timeoutMs, std::string& reason) {
  char errbuf[PCAP_ERRBUF_SIZE] = {};
  pcap_t* handle = pcap_create(device.c_str(), errbuf);
  if (!handle) {
    reason = errbuf;
    return nullptr;
  }
  pcap_set_snaplen(handle, snaplen);
  pcap_set_promisc(handle, 1);
  pcap_set_timeout(handle, timeoutMs);
  pcap_set_buffer_size(handle, kCaptureBufferBytes);
  const int status = pcap_activate(handle);
  if (status >= 0) return handle;  // warnings still give a working handle
  const std::string detail = pcap_geterr(handle);
  if (status == PCAP_ERROR)
    reason = device + ": " + detail;
  else if ((status == PCAP_ERROR_NO_SUCH_DEVICE || status == PCAP_ERROR_PERM_DENIED ||
            status == PCAP_ERROR_PROMISC_PERM_DENIED) &&
           !detail.empty())
    reason = device + ": " + pcap_statustostr(status) + " (" + detail + ")";
  else
    reason = device + ": " + pcap_statustostr(status);
  pcap_close(handle);
  return nullptr;
}

}  // namespace

TKelWinPcapNetMonitor::TKelWinPcapNetMonitor(QObject* AOwner, bool designMode)
    : TKelNetMonitor(AOwner, designMode) {
  if (designMode) {
    MaxPacketsPerCall = 50;
    TimeOut = 50;
    MaxPacketSize = 20000;
  } else {
    FCaptureHandle = nullptr;
    FBoundAdapterName.clear();
  }
  FWakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

TKelWinPcapNetMonitor::~TKelWinPcapNetMonitor() {
  // Close while this object is still a driver, so the unbind reaches pcap_close.
  DeInitialize();
  if (FCaptureHandle) {
    pcap_close(FCaptureHandle);
    FCaptureHandle = nullptr;
  }
  if (FWakeFd >= 0) ::close(FWakeFd);
}

bool TKelWinPcapNetMonitor::Driver_Open() {
  return true;
}

bool TKelWinPcapNetMonitor::Driver_Close() {
  return true;
}

// Linux's pcap_lookupdev names a single device, so the list comes from
// pcap_findalldevs in the library's order, each name as name and description.
// A list the library cannot give is reported, and with nothing added the
// component reports "No network adapters found". Past the component's 20
// entries the rest are left out; a name longer than 255 characters could not
// be bound and is left out too.
void TKelWinPcapNetMonitor::Driver_RetrieveAdapterList() {
  if (!FOpened) return;
  char errbuf[PCAP_ERRBUF_SIZE] = {};
  pcap_if_t* devices = nullptr;
  if (pcap_findalldevs(&devices, errbuf) < 0) {
    DNetError(std::string("WinPcap driver could not list adapters: ") + errbuf);
    return;
  }
  int added = 0;
  for (pcap_if_t* d = devices; d && added < MaxAdapters; d = d->next) {
    if (!d->name) continue;
    const std::string name = d->name;
    if (name.empty() || name.size() > MaxAdapterNameLength) continue;
    if (netvane::IsPseudoAdapterName(name)) continue;
    const int dlt = ProbeLinkType(d->name);
    if (dlt >= 0 && dlt != DLT_EN10MB) continue;
    AddAdapter(name, name);
    ++added;
  }
  pcap_freealldevs(devices);
}

bool TKelWinPcapNetMonitor::Driver_BindAdapter(const char* deviceName) {
  const std::string name = deviceName ? deviceName : "";
  if (name.size() > MaxAdapterNameLength) {
    DNetError("WinPcap driver failed to open adapter " + name + ": the name is longer than " +
              std::to_string(MaxAdapterNameLength) + " characters");
    return false;
  }
  FBoundAdapterName = name;
  char errbuf[PCAP_ERRBUF_SIZE] = {};
  std::string reason;
  pcap_t* handle = OpenLive(FBoundAdapterName, MaxPacketSize, TimeOut, reason);
  if (!handle) {
    DNetError("WinPcap driver failed to open adapter " + FBoundAdapterName + ": " + reason);
    return false;
  }
  // Everything downstream decodes Ethernet at fixed offsets; a frame of any
  // other link type would be misread, so such an adapter is never bound.
  const int dlt = pcap_datalink(handle);
  if (dlt != DLT_EN10MB) {
    DNetError("WinPcap driver refused adapter " + FBoundAdapterName + ": its link type is " +
              LinkTypeText(dlt) + ", not Ethernet");
    pcap_close(handle);
    return false;
  }
  // Reads are non-blocking; the worker waits in poll() where a wake-up can reach it.
  if (pcap_setnonblock(handle, 1, errbuf) < 0) {
    DNetError("WinPcap driver failed to open adapter " + FBoundAdapterName + ": " + errbuf);
    pcap_close(handle);
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(FHandleLock);
    FCaptureHandle = handle;
  }
  FDispatchFailing = false;
  return true;
}

bool TKelWinPcapNetMonitor::Driver_UnBindAdapter() {
  std::lock_guard<std::mutex> lock(FHandleLock);
  if (FCaptureHandle) {
    pcap_close(FCaptureHandle);
    FCaptureHandle = nullptr;
  }
  return true;
}

bool TKelWinPcapNetMonitor::Driver_SetFilter(const std::string& filterList) {
  return SetLocalIPFilter(netvane::HostFilterExpression(filterList));
}

bool TKelWinPcapNetMonitor::SetLocalIPFilter(const std::string& expression) {
  if (!FCaptureHandle) return false;
  char errbuf[PCAP_ERRBUF_SIZE] = {};
  bpf_u_int32 net = 0;
  bpf_u_int32 mask = 0;
  // An adapter without an IPv4 network (a monitoring port, a veth) is still
  // worth capturing on; the mask only matters for broadcast-address filters.
  if (pcap_lookupnet(FBoundAdapterName.c_str(), &net, &mask, errbuf) < 0) mask = PCAP_NETMASK_UNKNOWN;
  // The expression is a string of its own length, so a long address list is
  // never cut short; the library decides whether it compiles.
  bpf_program program{};
  if (pcap_compile(FCaptureHandle, &program, expression.c_str(), 0, mask) < 0) {
    DNetError("Failed to compile bpf filter on " + FBoundAdapterName + ": " + pcap_geterr(FCaptureHandle));
    return false;
  }
  const bool installed = pcap_setfilter(FCaptureHandle, &program) >= 0;
  if (!installed) {
    DNetError("Failed to install bpf filter on interface: " + FBoundAdapterName);
    // The library's reason goes to standard error under this prefix.
    pcap_perror(FCaptureHandle, "SetLocalIPFilter");
  }
  // The kernel keeps its own copy of an installed program.
  pcap_freecode(&program);
  return installed;
}

void TKelWinPcapNetMonitor::DrainWakeUps() {
  uint64_t count = 0;
  while (::read(FWakeFd, &count, sizeof count) == sizeof count) {
  }
}

TKelWinPcapNetMonitor::WaitResult TKelWinPcapNetMonitor::WaitForFrames() {
  if (WakeRequested()) return WaitResult::Woken;
  pollfd fds[2] = {};
  int n = 0;
  const int captureFd = pcap_get_selectable_fd(FCaptureHandle);
  if (captureFd >= 0) fds[n++] = {captureFd, POLLIN, 0};
  const int wakeIndex = n;
  if (FWakeFd >= 0) fds[n++] = {FWakeFd, POLLIN, 0};
  const int waitMs = TimeOut > 0 ? TimeOut : kFallbackWaitMs;
  int ready;
  do {
    ready = ::poll(fds, n, waitMs);
  } while (ready < 0 && errno == EINTR && !WakeRequested());
  if (FWakeFd >= 0 && (fds[wakeIndex].revents & POLLIN)) {
    DrainWakeUps();
    return WaitResult::Woken;
  }
  if (captureFd >= 0 && (fds[0].revents & (POLLERR | POLLHUP))) return WaitResult::SocketError;
  return WaitResult::Ready;  // readable, or the read time-out passed
}

void TKelWinPcapNetMonitor::ReportDispatchError(const std::string& reason) {
  // A failing adapter fails on every poll; one report per episode is enough.
  if (FDispatchFailing) return;
  FDispatchFailing = true;
  DNetError("WinPcap driver complained: " + reason);
}

void TKelWinPcapNetMonitor::TakeTimeToProcess() {
  if (!FBound || !FCaptureHandle) return;
  const WaitResult waited = WaitForFrames();
  if (waited == WaitResult::Woken) return;
  // A non-blocking read does not report an adapter taken down; only the
  // socket's pending error tells, and the read would clear it.
  const std::string socketError = waited == WaitResult::SocketError
                                      ? PendingSocketError(pcap_get_selectable_fd(FCaptureHandle))
                                      : std::string();
  const int batch = MaxPacketsPerCall;
  // A full batch means more frames are likely waiting: read again at once
  // instead of leaving them to overflow the kernel's ring during the pause.
  for (;;) {
    const int n = pcap_dispatch(FCaptureHandle, batch, &TKelWinPcapNetMonitor::PcapPacketHandler,
                                reinterpret_cast<u_char*>(this));
    if (n == PCAP_ERROR_BREAK) return;  // woken by Driver_WakeUp
    if (n < 0) {
      ReportDispatchError(pcap_geterr(FCaptureHandle));
      return;
    }
    if (!socketError.empty()) {
      ReportDispatchError(socketError);
      return;
    }
    FDispatchFailing = false;
    if (batch <= 0 || n < batch || WakeRequested()) return;
  }
}

void TKelWinPcapNetMonitor::PcapPacketHandler(u_char* user, const struct pcap_pkthdr* header,
                                              const u_char* bytes) {
  auto* self = reinterpret_cast<TKelWinPcapNetMonitor*>(user);
  auto* packet = new TKelNetPacket(bytes, header->caplen, self->FReceived.load(), true);
  packet->CaptureSeconds = header->ts.tv_sec;
  packet->CaptureMicroseconds = static_cast<uint32_t>(header->ts.tv_usec);
  packet->WireLength = header->len;
  self->HandlePacket(packet);
}

bool TKelWinPcapNetMonitor::SendPacket(TKelNetPacket* packet) {
  if (!FBound || !packet) return false;
  // Serialised with a running read (the guard is re-entrant for the worker).
  AdapterGuard guard(*this);
  if (!FCaptureHandle) return false;
  return pcap_sendpacket(FCaptureHandle, packet->Data, static_cast<int>(packet->Length)) != PCAP_ERROR;
}

bool TKelWinPcapNetMonitor::GetKernelStats(unsigned& received, unsigned& dropped) {
  AdapterGuard guard(*this);
  if (!FCaptureHandle) return false;
  pcap_stat stats{};
  if (pcap_stats(FCaptureHandle, &stats) < 0) return false;
  received = stats.ps_recv;
  dropped = stats.ps_drop;
  return true;
}

void TKelWinPcapNetMonitor::Driver_WakeUp() {
  if (FWakeFd >= 0) {
    const uint64_t one = 1;
    (void)!::write(FWakeFd, &one, sizeof one);
  }
  // Also ends a dispatch that is already inside the library. The handle lock
  // keeps a wake-up from another thread off a handle being closed.
  std::lock_guard<std::mutex> lock(FHandleLock);
  if (FCaptureHandle) pcap_breakloop(FCaptureHandle);
}

std::string TKelWinPcapNetMonitor::get_DriverName() {
  return "WinPcap";
}

void* TKelWinPcapNetMonitor::get_driverp() {
  return FCaptureHandle;
}

void TKelWinPcapNetMonitor::Register() {}
