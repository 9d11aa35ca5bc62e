// Construction, published properties, the capture lifecycle (open, close,
// start, pause, stop) and the base class's driver operations.
#include "capture/KelNetMonitor.h"

#include <QComboBox>
#include <QStatusBar>

TKelNetMonitor::TKelNetMonitor(QObject* AOwner, bool designMode)
    : QObject(AOwner), FDesignMode(designMode), FUiThread(std::this_thread::get_id()) {
  ShowErrMsgBox.store(true);
  if (!FDesignMode) Initialize();
}

TKelNetMonitor::~TKelNetMonitor() {
  // A driver subclass has already run DeInitialize in its own destructor, so
  // this second call finds nothing left to do.
  if (!FDesignMode) DeInitialize();
  QObject::disconnect(FStatusBarGone);
}

// --- published properties ---------------------------------------------------

QStatusBar* TKelNetMonitor::statusBar() const {
  return FStatusBar.data();
}

void TKelNetMonitor::setStatusBar(QStatusBar* bar) {
  QObject::disconnect(FStatusBarGone);
  FStatusBar = bar;
  FHasStatusBar.store(bar != nullptr);
  // The worker only asks whether a bar exists; clear that answer when the
  // bar goes, so it stops posting packet counts nobody can show.
  if (bar != nullptr)
    FStatusBarGone = connect(bar, &QObject::destroyed, this, [this] { FHasStatusBar.store(false); });
}

QComboBox* TKelNetMonitor::adapterComboBox() const {
  return FAdapterComboBox.data();
}

void TKelNetMonitor::setAdapterComboBox(QComboBox* box) {
  FAdapterComboBox = box;
}

QString TKelNetMonitor::GetTKelNetMonitorVersion() const {
  return QStringLiteral("TKelNetMonitor v1.1");
}

void TKelNetMonitor::SetTKelNetMonitorVersion(const QString&) {}

void TKelNetMonitor::setOnNewPacket(TNewPacketEvent handler) {
  std::lock_guard<std::mutex> lock(FStateLock);
  OnNewPacket = std::move(handler);
}

void TKelNetMonitor::setOnStatusMessage(TStatusMessageEvent handler) {
  std::lock_guard<std::mutex> lock(FStateLock);
  OnStatusMessage = std::move(handler);
}

void TKelNetMonitor::StopCallbackEvents() {
  std::lock_guard<std::mutex> lock(FStateLock);
  OnNewPacket = nullptr;
  OnStatusMessage = nullptr;
}

// --- lifecycle ---------------------------------------------------------------

void TKelNetMonitor::Initialize() {
  // Run again on a live component, forgetting the worker or the queued
  // records would leave a thread running on us and leak the records; end and
  // release them instead (at construction there is neither).
  NotifyThreadEnd();
  DrainFifo();
  StopCallbackEvents();
  {
    std::lock_guard<std::mutex> lock(FStateLock);
    FAdapterCount = 0;
  }
  FOpened.store(false);
  FSelectedAdapter.store(-1);
  FBound.store(false);
  FReceived.store(0);
  ClearErrors();
  FilterAllIP();
  if (FStatusBar) User_StatusMessage("Initializing Network Monitoring System.");
}

void TKelNetMonitor::DeInitialize() {
  // The worker is ended even when the component is not open: a host may have
  // started it after a failed Open, and a running thread must not outlive us.
  NotifyThreadEnd();
  if (FOpened.load()) Close();
  // Also empties the indicators, so a second DeInitialize frees nothing twice.
  DrainFifo();
}

bool TKelNetMonitor::Open() {
  if (FOpened.load()) Close();
  if (!OnDriverThread(Wait::ForResult, false, [this] { return OpenHere(); })) return false;
  InitializeComboBox();  // a widget: here, on the UI thread
  return true;
}

bool TKelNetMonitor::OpenHere() {
  if (!Driver_Open()) {
    DNetError("Could not open Network Monitor Driver");
    return false;
  }
  FOpened.store(true);
  {
    std::lock_guard<std::mutex> lock(FStateLock);
    FAdapterCount = 0;
  }
  Driver_RetrieveAdapterList();
  if (adapterCount() > 0) {
    User_StatusMessage("Opened the Network Monitoring System.");
    return true;
  }
  DNetError("No network adapters found");
  Driver_Close();
  FOpened.store(false);
  return false;
}

bool TKelNetMonitor::Close() {
  NotifyThreadEnd();
  return OnDriverThread(Wait::ForResult, true, [this] { return CloseHere(); });
}

bool TKelNetMonitor::CloseHere() {
  bool result = true;
  if (FOpened.load()) {
    StopCapture();
    result = Driver_Close();
  }
  {
    std::lock_guard<std::mutex> lock(FStateLock);
    FAdapterCount = 0;
  }
  FOpened.store(false);
  User_StatusMessage("Network Monitoring System has been closed.");
  return result;
}

namespace {
// The next order of a capture request; never 0, which means "no start".
uint32_t NextOrder(std::atomic<uint32_t>& order) {
  uint32_t next = order.fetch_add(1) + 1;
  while (next == 0) next = order.fetch_add(1) + 1;
  return next;
}
}  // namespace

bool TKelNetMonitor::StartCapture() {
  const uint32_t ticket = NextOrder(FCaptureOrder);
  return OnDriverThread(Wait::ForResult, false, [this, ticket] { return StartHere(ticket); });
}

void TKelNetMonitor::StartCaptureAsync() {
  const uint32_t ticket = NextOrder(FCaptureOrder);
  FStartsUnderWay.fetch_add(1);
  OnDriverThread(
      [this, ticket] {
        struct Done {
          std::atomic<int>& n;
          ~Done() { n.fetch_sub(1); }
        } done{FStartsUnderWay};
        StartHere(ticket);
      },
      Wait::Never);
}

bool TKelNetMonitor::StartHere(uint32_t ticket) {
  if (!FOpened.load()) return false;
  bool result = FBound.load();
  if (!result) {
    // A pause or stop that came after this start, but ran first, or a worker
    // that is to end, leaves nothing to do.
    if (FCaptureOrder.load() != ticket || (FEnding.load() && OnWorker())) return false;
    FBindTicket.store(ticket);
    result = BindHere(FSelectedAdapter.load());
    FBindTicket.store(0);
    // Overtaken during the bind: the pause or stop queued behind this start
    // unbinds again, and says so.
    if (FCaptureOrder.load() != ticket) return result;
  }
  if (result) User_StatusMessage("Monitoring of adapter started.");
  return result;
}

bool TKelNetMonitor::BindCancelled() const {
  const uint32_t ticket = FBindTicket.load();
  // FEnding stays set after the worker has gone, until the next one starts:
  // it ends only a bind that runs on the worker.
  return ticket != 0 && (FCaptureOrder.load() != ticket || (FEnding.load() && OnWorker()));
}

void TKelNetMonitor::EndCapture(std::function<void()> more, const char* line) {
  // Overtakes a start that may still be queued or binding (and is told so
  // through Driver_WakeUp, which queuing the unbind calls).
  NextOrder(FCaptureOrder);
  const bool wasBound = FBound.exchange(false);
  OnDriverThread(
      [this, wasBound, more = std::move(more), line] {
        UnbindHere(wasBound);
        if (more) more();
        User_StatusMessage(line);
      },
      Wait::UnlessHandler);
}

void TKelNetMonitor::StopCapture() {
  EndCapture([this] { DrainFifo(); }, "Monitoring of adapter has been stopped.");
}

void TKelNetMonitor::PauseCapture() {
  EndCapture(nullptr, "Monitoring of adapter has been paused.");
}

// --- driver operations of the abstract component ---------------------------------

bool TKelNetMonitor::Driver_SetFilter(const std::string&) {
  return false;
}
void TKelNetMonitor::Driver_RetrieveAdapterList() {}
bool TKelNetMonitor::Driver_Open() {
  return false;
}
bool TKelNetMonitor::Driver_Close() {
  return false;
}
bool TKelNetMonitor::Driver_BindAdapter(const char*) {
  return false;
}
bool TKelNetMonitor::Driver_UnBindAdapter() {
  return false;
}
bool TKelNetMonitor::SendPacket(TKelNetPacket*) {
  return false;
}
void TKelNetMonitor::TakeTimeToProcess() {}
std::string TKelNetMonitor::get_DriverName() {
  return "abstract";
}
void* TKelNetMonitor::get_driverp() {
  return nullptr;
}
void TKelNetMonitor::Driver_WakeUp() {}
