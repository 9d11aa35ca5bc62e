// Packet delivery: the FIFO, HandlePacket and GetNextPacket, the worker's turn,
// starting and ending the worker, and the adapter lock that keeps the driver's
// adapter still while the worker reads it.
#include "capture/KelNetMonitor.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <chrono>
#include <exception>

#include "capture/KelNetMonitorThread.h"

// --- adapter lock ----------------------------------------------------------------

TKelNetMonitor::AdapterGuard::AdapterGuard(TKelNetMonitor& monitor) : m(monitor) {
  if (m.FAdapterOwner.load() == std::this_thread::get_id()) {
    ++m.FAdapterDepth;
    return;
  }
  // Announce the request first, then wake a read that may be blocked: the
  // worker skips its next poll while a request is pending, and a driver that
  // reads batch after batch stops at WakeRequested().
  ++m.FWakeRequests;
  m.Driver_WakeUp();
  if (!m.ServesUi()) {
    m.FAdapterLock.lock();
  } else if (!m.FAdapterLock.try_lock()) {
    m.ServeUiUntil([this] {
      if (m.FAdapterLock.try_lock()) return true;
      std::this_thread::sleep_for(std::chrono::microseconds(100));
      return false;
    });
  }
  --m.FWakeRequests;
  m.FAdapterOwner.store(std::this_thread::get_id());
  m.FAdapterDepth = 1;
}

TKelNetMonitor::AdapterGuard::AdapterGuard(TKelNetMonitor& monitor, std::adopt_lock_t) : m(monitor) {
  m.FAdapterOwner.store(std::this_thread::get_id());
  m.FAdapterDepth = 1;
}

TKelNetMonitor::AdapterGuard::~AdapterGuard() {
  if (--m.FAdapterDepth > 0) return;
  m.FAdapterOwner.store(std::thread::id());
  m.FAdapterLock.unlock();
  // UI work that arrived while the lock was held (an error box) may run now.
  if (m.OnUiThread() && m.FFlushDeferred && m.FServing == 0) {
    m.FFlushDeferred = false;
    QMetaObject::invokeMethod(&m, "FlushUiWork", Qt::QueuedConnection);
  }
}

bool TKelNetMonitor::HoldsAdapter() const {
  return FAdapterOwner.load() == std::this_thread::get_id();
}

bool TKelNetMonitor::WakeRequested() const {
  return FWakeRequests.load() > 0 || FEnding.load();
}

void TKelNetMonitor::ThreadTurn() {
  // The worker never blocks on the adapter lock: while the UI thread holds it
  // (or ends this very thread) the worker keeps checking whether it is asked
  // to stop, so no wait of the UI thread can deadlock with it.
  for (;;) {
    if (FEnding.load()) return;
    if (FWakeRequests.load() == 0 && FAdapterLock.try_lock()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  // Released however the turn ends, an exception of the driver's included.
  const AdapterGuard held(*this, std::adopt_lock);
  if (FWakeRequests.load() == 0) TakeTimeToProcess();
}

void TKelNetMonitor::ReportException(const std::string& what) noexcept {
  try {
    std::string reason;
    try {
      throw;
    } catch (const std::exception& e) {
      reason = e.what();
    } catch (...) {
      reason = "an exception of unknown type";
    }
    DNetError(what + ": " + reason);
  } catch (...) {
    // Reporting failed too (no memory, or a User_Error that throws): the
    // exception is dropped rather than ending the thread.
  }
}

bool TKelNetMonitor::ServesUi() const {
  return OnUiThread() && QCoreApplication::instance() != nullptr;
}

void TKelNetMonitor::ServeUiUntil(const std::function<bool()>& done) {
  ++FServing;
  // Posted events only: no input, no timers, no socket notifiers, which would
  // run the host's own code in the middle of a component operation.
  constexpr auto kPostedOnly =
      QEventLoop::ExcludeUserInputEvents | QEventLoop::ExcludeSocketNotifiers | QEventLoop::X11ExcludeTimers;
  while (!done()) QCoreApplication::processEvents(kPostedOnly);
  if (--FServing == 0 && FFlushDeferred) {
    FFlushDeferred = false;
    QMetaObject::invokeMethod(this, "FlushUiWork", Qt::QueuedConnection);
  }
}

// --- worker thread -------------------------------------------------------------------

void TKelNetMonitor::NotifyThreadStart(int interval) {
  // A worker that a handler's Close has ended is joined, then replaced.
  if (FThread != nullptr && FThread->Terminated()) NotifyThreadEnd();
  if (FThread != nullptr) return;
  FEnding.store(false);
  FThread = std::make_unique<TKelNetMonitorThread>(this, interval);
}

void TKelNetMonitor::NotifyThreadEnd() {
  // Reached from the worker's own turn (a handler that closes the component):
  // it cannot wait for itself. It ends after this turn; the next
  // NotifyThreadEnd on the UI thread (at the latest at destruction) joins and
  // destroys it. FThread is the UI thread's: the worker may start running
  // before the UI thread has stored it, so the worker knows itself instead.
  if (TKelNetMonitorThread* self = TKelNetMonitorThread::Current();
      self != nullptr && self->Monitor() == this) {
    FEnding.store(true);
    self->Terminate();
    return;
  }
  if (FThread == nullptr) return;
  // The join below cannot deadlock: nothing of ours on the worker waits for
  // the UI thread. Status lines and boxes are posted to a mailbox, never
  // waited on, and the worker's turn gives up waiting for the adapter lock once
  // FEnding is set. A host's handler may wait on the UI thread, though, so the
  // UI thread keeps serving such calls until the worker is done. Waking the
  // driver ends a read that would otherwise wait for a frame, and Terminate
  // ends the pause, so this returns within one short turn.
  FEnding.store(true);
  FThread->Terminate();
  ++FWakeRequests;
  Driver_WakeUp();
  // A call served during the wait may end the worker itself (a host's queued
  // Close): then FThread is gone when the wait is over, and so is the worker.
  if (ServesUi())
    ServeUiUntil(
        [this] { return FThread == nullptr || FThread->FinishedWithin(std::chrono::milliseconds(1)); });
  if (FThread != nullptr) {
    FThread->WaitFor();
    FThread.reset();
  }
  --FWakeRequests;
  FEnding.store(false);
}

// --- FIFO ------------------------------------------------------------------------------

void TKelNetMonitor::AppendToFifo(TKelNetPacket* packet, bool& accepted) {
  bool desynchronized = false;
  {
    std::lock_guard<std::mutex> lock(FFifoLock);
    const int32_t count = FPacketCount.load();
    if (count >= MaxFifoPackets) {
      accepted = false;
    } else {
      packet->Next = nullptr;  // a reused record must not drag a stale chain in
      if (FLast != nullptr && FFirst != nullptr && count != 0) {
        FLast->Next = packet;
        FLast = packet;
      } else {
        // Indicators that disagree mean records were lost track of; those are
        // left alone (they cannot be walked safely) and the FIFO restarts.
        desynchronized = FFirst != nullptr || FLast != nullptr || count != 0;
        FFirst = packet;
        FLast = packet;
      }
      FPacketCount.store(count + 1);
      accepted = true;
    }
  }
  if (!accepted) {
    delete packet;
    return;
  }
  // Reported outside the FIFO lock: the error path runs host code.
  if (desynchronized) DNetError("In TKelNetMonitor:HandlePacker(), fifo became somehow desynchronized");
}

void TKelNetMonitor::DrainFifo() {
  TKelNetPacket* chain;
  {
    std::lock_guard<std::mutex> lock(FFifoLock);
    chain = FFirst;
    FFirst = nullptr;
    FLast = nullptr;
    FPacketCount.store(0);
  }
  while (chain != nullptr) {
    TKelNetPacket* next = chain->Next;
    delete chain;
    chain = next;
  }
}

void TKelNetMonitor::ForceFifoIndicators(TKelNetPacket* first, TKelNetPacket* last, int32_t count) {
  std::lock_guard<std::mutex> lock(FFifoLock);
  FFirst = first;
  FLast = last;
  FPacketCount.store(count);
}

bool TKelNetMonitor::FifoIndicatorsAgree() const {
  std::lock_guard<std::mutex> lock(FFifoLock);
  const int32_t count = FPacketCount.load();
  if (FFirst == nullptr || FLast == nullptr || count == 0)
    return FFirst == nullptr && FLast == nullptr && count == 0;
  const TKelNetPacket* p = FFirst;
  for (int32_t i = 1; i < count; ++i) {
    p = p->Next;
    if (p == nullptr) return false;
  }
  return p == FLast && p->Next == nullptr;
}

// --- delivery ---------------------------------------------------------------------------

void TKelNetMonitor::HandlePacket(TKelNetPacket* packet) {
  if (packet == nullptr) return;
  // Counted modulo 2^31, so the count (and the sequence number a driver takes
  // from it) stays a valid non-negative int32_t however long a capture runs.
  int32_t received = FReceived.load();
  int32_t next;
  do {
    next = received == INT32_MAX ? 0 : received + 1;
  } while (!FReceived.compare_exchange_weak(received, next));
  bool accepted = false;
  AppendToFifo(packet, accepted);
  if (!accepted) return;
  SetPacketCountText(next, FPacketCount.load());
  // The record may already be taken by another consumer by now; the base
  // class only announces it and never looks inside. The host's handler runs
  // inside a driver's read: what it throws must not unwind through the read.
  try {
    User_NewPacketArrived(packet);
  } catch (...) {
    ReportException("New-packet handler failed");
  }
}

void TKelNetMonitor::User_NewPacketArrived(TKelNetPacket*) {
  TNewPacketEvent handler;
  {
    std::lock_guard<std::mutex> lock(FHandlerLock);
    handler = OnNewPacket;
  }
  // Called outside the lock: the handler takes frames and may reassign handlers.
  if (handler) handler(this);
}

bool TKelNetMonitor::GetNextPacket(TKelNetPacket* packet) {
  if (packet == nullptr) return false;
  TKelNetPacket* taken;
  int32_t left;
  {
    std::lock_guard<std::mutex> lock(FFifoLock);
    taken = FFirst;
    if (taken == nullptr) return false;
    FFirst = taken->Next;
    if (taken == FLast) FLast = nullptr;
    left = FPacketCount.load() - 1;
    FPacketCount.store(left);
  }
  // The queued record is destroyed after the take anyway, so its private
  // buffer becomes the caller's without a second allocation.
  packet->MoveFrom(*taken);
  delete taken;
  SetPacketCountText(FReceived.load(), left);
  return true;
}

int TKelNetMonitor::get_packetcount() const {
  return FPacketCount.load();
}
