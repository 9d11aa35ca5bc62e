#include "capture/KelWinPcapNetMonitor.h"

#include <pcap/pcap.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <QVariant>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "capture/adapter_scan.h"
#include "capture/capture_settings.h"
#include "capture/helper_client.h"
#include "capture/host_filter.h"
#include "capture/remote_name.h"
#include "capture/ssh_link.h"

namespace helper = netvane::helper;

namespace {

// Without a time-out a read would wait for the next frame forever; a bounded
// wait keeps every turn of the worker short.
constexpr int kFallbackWaitMs = 1000;

}  // namespace

TKelWinPcapNetMonitor::TKelWinPcapNetMonitor(QObject* AOwner, bool designMode)
    : TKelNetMonitor(AOwner, designMode), FHelper(std::make_unique<netvane::CaptureHelperClient>()) {
  if (designMode)
    ApplyProgramSettings(this);
  else
    FBoundAdapterName.clear();
  FWakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

void TKelWinPcapNetMonitor::ApplyProgramSettings(QObject* component) {
  component->setProperty("MaxPacketsPerCall", netvane::capture_settings::kMaxPacketsPerCall);
  component->setProperty("TimeOut", netvane::capture_settings::kReadTimeOutMs);
  component->setProperty("MaxPacketSize", netvane::capture_settings::kSnapshotLength);
}

TKelWinPcapNetMonitor::~TKelWinPcapNetMonitor() {
  // Close while this object is still a driver, so the unbind reaches the helper.
  DeInitialize();
  StopHelper();
  if (FWakeFd >= 0) ::close(FWakeFd);
}

bool TKelWinPcapNetMonitor::Driver_Open() {
  return true;
}

bool TKelWinPcapNetMonitor::Driver_Close() {
  StopHelper();
  return true;
}

bool TKelWinPcapNetMonitor::EnsureHelper(std::string& error) {
  return FHelper->running() || FHelper->Start(error);
}

void TKelWinPcapNetMonitor::StopHelper() {
  FHelper->Stop();
  FAdapterOpen.store(false);
  FPending.clear();
}

// Listing needs no capture right, so it is done here, as tcpdump -D does:
// every adapter the library knows whose hardware type says Ethernet (or
// loopback), which is what the helper will open; nothing is opened to list.
// Each is added with its name as name and description.
void TKelWinPcapNetMonitor::Driver_RetrieveAdapterList() {
  if (!FOpened) return;
  std::vector<std::string> names;
  std::string error;
  if (netvane::ScanEthernetAdapters(names, error))
    for (const std::string& name : names) AddAdapter(name, name);
  else
    DNetError("WinPcap driver could not list adapters: " + error);
  for (const std::string& name : FRemoteAdapters) {
    netvane::RemoteTarget remote;
    if (netvane::ParseRemoteAdapter(name, remote, error))
      AddAdapter(remote.AdapterName(), remote.Description());
  }
}

void TKelWinPcapNetMonitor::SetRemoteAdapters(std::vector<std::string> names) {
  OnDriverThread(Wait::ForResult, false, [&] {
    FRemoteAdapters = std::move(names);
    return true;
  });
}

bool TKelWinPcapNetMonitor::Driver_BindAdapter(const char* deviceName) {
  const std::string name = deviceName ? deviceName : "";
  std::string error;
  netvane::RemoteTarget remote;
  const bool isRemote = netvane::IsRemoteName(name);
  if (isRemote && !netvane::ParseRemoteAdapter(name, remote, error)) {
    DNetError("WinPcap driver failed to open adapter " + name + ": " + error);
    return false;
  }
  // The helper's limit, which is also what the adapter-name field holds.
  const std::string device = isRemote ? remote.adapter : name;
  if (device.size() > helper::kMaxAdapterName) {
    DNetError("WinPcap driver failed to open adapter " + name + ": the name is longer than " +
              std::to_string(helper::kMaxAdapterName) + " characters");
    return false;
  }
  FBoundAdapterName = name;
  StopHelper();
  if (isRemote)
    FHelper->Use(std::make_unique<netvane::SshHelperLink>(remote));
  else if (FRemote)
    FHelper->Use(std::make_unique<netvane::LocalHelperLink>());
  FRemote = isRemote;
  // Said of a remote adapter's failures: where they happened.
  const std::string where = isRemote ? " on " + remote.HostText() : std::string();
  if (!EnsureHelper(error) || (isRemote && !AskOwnConnection(error))) {
    DNetError("WinPcap driver failed to open adapter " + name + ": " + error);
    return false;
  }
  helper::Request request;
  request.type = helper::RequestType::Open;
  request.name = device;
  // Out-of-range settings take the library's own defaults, as it would itself.
  request.snapLength = (MaxPacketSize <= 0 || static_cast<uint32_t>(MaxPacketSize) > helper::kMaxSnapLength)
                           ? helper::kMaxSnapLength
                           : static_cast<uint32_t>(MaxPacketSize);
  request.timeOutMs = static_cast<uint32_t>(std::clamp(TimeOut, 0, static_cast<int>(helper::kMaxTimeOutMs)));
  request.promiscuous = true;
  helper::Reply reply;
  if (!FHelper->Call(request, reply, error, nullptr)) {
    DNetError("WinPcap driver failed to open adapter " + name + ": " + error);
    StopHelper();
    return false;
  }
  switch (reply.status) {
    case helper::ReplyStatus::Ok:
      FSnapLength = request.snapLength;
      FAdapterOpen.store(true);
      return true;
    case helper::ReplyStatus::NotEthernet:
      // Everything downstream decodes Ethernet at fixed offsets; a frame of
      // any other link type would be misread, so such an adapter is never bound.
      DNetError("WinPcap driver refused adapter " + name + ": " + reply.text + where);
      break;
    case helper::ReplyStatus::PermissionDenied:
      DNetError("WinPcap driver failed to open adapter " + name + ": " + reply.text +
                "; the capture helper " + FHelper->path() +
                " holds no capture right: ask an administrator to give it CAP_NET_RAW");
      break;
    default:
      DNetError("WinPcap driver failed to open adapter " + name + ": " + reply.text + where);
      break;
  }
  StopHelper();
  return false;
}

bool TKelWinPcapNetMonitor::Driver_UnBindAdapter() {
  // Ending the helper closes the adapter; frames it had read but not yet
  // handed over go with it, as they would with the library's own ring.
  StopHelper();
  return true;
}

void TKelWinPcapNetMonitor::SetCaptureExpression(std::string expression) {
  OnDriverThread(Wait::ForResult, false, [&] {
    FCaptureExpression = std::move(expression);
    return true;
  });
}

bool TKelWinPcapNetMonitor::Driver_SetFilter(const std::string& filterList) {
  // Compiled alone first: an expression that is not complete in itself (one
  // with a ")" of its own) could reach out of its parentheses past the list.
  std::vector<helper::FilterInstruction> alone;
  std::string error;
  if (!netvane::CompileFilter(FCaptureExpression, netvane::capture_settings::kSnapshotLength, 0, alone,
                              error)) {
    DNetError("Failed to compile bpf filter on " + FBoundAdapterName + ": " + error);
    return false;
  }
  return SetLocalIPFilter(
      netvane::BothFilters(netvane::HostFilterExpression(filterList), FCaptureExpression));
}

bool TKelWinPcapNetMonitor::SetLocalIPFilter(const std::string& expression) {
  return OnDriverThread(Wait::ForResult, false, [&] { return SetFilterHere(expression); });
}

bool TKelWinPcapNetMonitor::SetFilterHere(const std::string& expression) {
  if (!FAdapterOpen.load()) return false;
  char errbuf[PCAP_ERRBUF_SIZE] = {};
  bpf_u_int32 net = 0;
  bpf_u_int32 mask = 0;
  // An adapter without an IPv4 network (a monitoring port, a veth) is still
  // worth capturing on; the mask only matters for broadcast-address filters.
  // Another host's network is not known here.
  if (FRemote || pcap_lookupnet(FBoundAdapterName.c_str(), &net, &mask, errbuf) < 0)
    mask = PCAP_NETMASK_UNKNOWN;
  helper::Request request;
  request.type = helper::RequestType::SetFilter;
  std::string error;
  const std::string compiled = FRemote ? netvane::WithoutConnection(expression, FOwnConnection) : expression;
  if (!netvane::CompileFilter(compiled, static_cast<int>(FSnapLength), mask, request.filter, error)) {
    DNetError("Failed to compile bpf filter on " + FBoundAdapterName + ": " + error);
    return false;
  }
  helper::Reply reply;
  if (!AskHelper(request, reply, error)) {
    DNetError("Failed to install bpf filter on interface: " + FBoundAdapterName);
    std::fprintf(stderr, "SetLocalIPFilter: %s\n", error.c_str());
    return false;
  }
  if (reply.status == helper::ReplyStatus::Ok) return true;
  // A program the kernel refused closed the adapter in the helper: nothing
  // is captured unfiltered.
  if (reply.status == helper::ReplyStatus::InstallFailed) StopHelper();
  DNetError("Failed to install bpf filter on interface: " + FBoundAdapterName);
  // The reason goes to standard error under this prefix.
  std::fprintf(stderr, "SetLocalIPFilter: %s\n", reply.text.c_str());
  return false;
}

std::unique_ptr<TKelNetPacket> TKelWinPcapNetMonitor::RecordFor(std::span<const uint8_t> payload) const {
  helper::FrameHeader header;
  std::span<const uint8_t> bytes;
  if (!helper::ParseFrame(payload, header, bytes)) return nullptr;
  // The sequence number is given when the record is handed over.
  auto record = std::make_unique<TKelNetPacket>(bytes.data(), header.capturedLength, 0, true);
  record->CaptureSeconds = header.seconds;
  record->CaptureMicroseconds = header.microseconds;
  record->WireLength = header.wireLength;
  return record;
}

std::unique_ptr<TKelNetPacket> TKelWinPcapNetMonitor::RecordOrReport(helper::MessageType type,
                                                                     std::span<const uint8_t> payload) {
  if (type == helper::MessageType::Frame) return RecordFor(payload);
  if (type == helper::MessageType::Failure)
    DNetError("WinPcap driver complained: " + std::string(payload.begin(), payload.end()));
  return nullptr;
}

bool TKelWinPcapNetMonitor::AskHelper(const helper::Request& request, helper::Reply& reply,
                                      std::string& error) {
  if (FHelper->Call(request, reply, error,
                    [this](helper::MessageType type, std::span<const uint8_t> payload) {
                      if (auto record = RecordOrReport(type, payload)) FPending.push_back(std::move(record));
                    }))
    return true;
  StopHelper();
  return false;
}

void TKelWinPcapNetMonitor::HelperGone() {
  // The adapter stays bound, as after any failing read; pausing and starting
  // again starts a new helper. A connection to another host that drops ends
  // here too, and its link says why.
  StopHelper();
  DNetError("WinPcap driver complained: " + FHelper->Explain("the capture helper ended"));
}

bool TKelWinPcapNetMonitor::AskOwnConnection(std::string& error) {
  helper::Request request;
  request.type = helper::RequestType::Connection;
  helper::Reply reply;
  if (!FHelper->Call(request, reply, error, nullptr)) return false;
  if (reply.status == helper::ReplyStatus::Ok) {
    FOwnConnection = reply.connection;
    return true;
  }
  // Without it every frame the capture sends back would be captured again.
  error = "the capture helper " + FHelper->path() + " cannot tell which SSH connection is its own (" +
          reply.text + "), so it would capture itself";
  StopHelper();
  return false;
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
  fds[n++] = {FHelper->fd(), POLLIN, 0};
  const int wakeIndex = n;
  if (FWakeFd >= 0) fds[n++] = {FWakeFd, POLLIN, 0};
  const int waitMs = TimeOut > 0 ? TimeOut : kFallbackWaitMs;
  int ready;
  do {
    ready = ::poll(fds, static_cast<nfds_t>(n), waitMs);
  } while (ready < 0 && errno == EINTR && !WakeRequested());
  if (FWakeFd >= 0 && (fds[wakeIndex].revents & POLLIN)) {
    DrainWakeUps();
    return WaitResult::Woken;
  }
  return WaitResult::Ready;
}

// Hands over every frame that has arrived, in order: first those taken in
// while a request waited for its answer, then the helper's stream. A wait
// that brought a full batch (MaxPacketsPerCall frames or more) means the
// adapter is busy and more frames are waiting in the kernel's ring behind the
// helper, so the turn waits for the next ones at once instead of leaving them
// to pile up during the pause. The turn ends when a wait brings less, when
// another thread wants the adapter, or when the new-packet handler has
// unbound, closed or re-bound it.
void TKelWinPcapNetMonitor::TakeTimeToProcess() {
  if (!FBound || !FAdapterOpen.load()) return;
  const int fullBatch = MaxPacketsPerCall > 0 ? MaxPacketsPerCall : 1;
  bool waited = false;
  int sinceWait = 0;
  for (;;) {
    if (WakeRequested()) return;
    std::unique_ptr<TKelNetPacket> record;
    if (!FPending.empty()) {
      record = std::move(FPending.front());
      FPending.pop_front();
    } else {
      uint16_t type = 0;
      std::span<const uint8_t> payload;
      const helper::Inbox::Next next = FHelper->Next(type, payload);
      if (next == helper::Inbox::Next::Oversized) {
        HelperGone();
        return;
      }
      if (next == helper::Inbox::Next::NeedMore) {
        const auto received = FHelper->Receive();
        if (received == netvane::CaptureHelperClient::ReadResult::Gone) {
          HelperGone();
          return;
        }
        if (received == netvane::CaptureHelperClient::ReadResult::Nothing) {
          if (waited && sinceWait < fullBatch) return;
          if (WaitForFrames() == WaitResult::Woken) return;
          waited = true;
          sinceWait = 0;
        }
        continue;
      }
      record = RecordOrReport(static_cast<helper::MessageType>(type), payload);
      if (record == nullptr) continue;
    }
    record->SequenceNumber = FReceived.load();
    HandlePacket(record.release());
    ++sinceWait;
    if (!FBound || !FAdapterOpen.load()) return;
  }
}

bool TKelWinPcapNetMonitor::SendPacket(TKelNetPacket* packet) {
  if (!FBound || !packet) return false;
  return OnDriverThread(Wait::ForResult, false, [&] { return SendHere(*packet); });
}

bool TKelWinPcapNetMonitor::SendHere(const TKelNetPacket& packet) {
  if (!FAdapterOpen.load() || packet.Length == 0 || packet.Length > helper::kMaxSendFrame || !packet.Data)
    return false;
  helper::Request request;
  request.type = helper::RequestType::Send;
  request.frame.assign(packet.Data, packet.Data + packet.Length);
  helper::Reply reply;
  std::string error;
  if (!AskHelper(request, reply, error)) return false;
  return reply.status == helper::ReplyStatus::Ok;
}

bool TKelWinPcapNetMonitor::GetKernelStats(unsigned& received, unsigned& dropped) {
  return OnDriverThread(Wait::ForResult, false, [&] { return StatsHere(received, dropped); });
}

bool TKelWinPcapNetMonitor::StatsHere(unsigned& received, unsigned& dropped) {
  if (!FAdapterOpen.load()) return false;
  helper::Request request;
  request.type = helper::RequestType::Stats;
  helper::Reply reply;
  std::string error;
  if (!AskHelper(request, reply, error)) {
    DNetError("WinPcap driver could not read the kernel's counters: " + error);
    return false;
  }
  if (reply.status != helper::ReplyStatus::Ok) return false;
  received = reply.received;
  dropped = reply.dropped;
  return true;
}

void TKelWinPcapNetMonitor::Driver_WakeUp() {
  if (FWakeFd >= 0) {
    const uint64_t one = 1;
    (void)!::write(FWakeFd, &one, sizeof one);
  }
}

std::string TKelWinPcapNetMonitor::get_DriverName() {
  return "WinPcap";
}

void* TKelWinPcapNetMonitor::get_driverp() {
  return FBound.load() && FAdapterOpen.load() ? FHelper.get() : nullptr;
}

void TKelWinPcapNetMonitor::Register() {}
