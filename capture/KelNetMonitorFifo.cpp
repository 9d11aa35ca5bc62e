// The packet FIFO and delivery: HandlePacket appends and announces a frame,
// GetNextPacket takes the oldest; both any thread, under FFifoLock.
#include "capture/KelNetMonitor.h"

// --- FIFO ------------------------------------------------------------------------------

void TKelNetMonitor::AppendToFifo(TKelNetPacket* packet, bool& accepted) {
  {
    std::lock_guard<std::mutex> lock(FFifoLock);
    const int32_t count = FPacketCount.load();
    accepted = count < MaxFifoPackets;
    if (accepted) {
      packet->Next = nullptr;  // a reused record must not drag a stale chain in
      if (FLast != nullptr)
        FLast->Next = packet;
      else
        FFirst = packet;
      FLast = packet;
      FPacketCount.store(count + 1);
    }
  }
  if (!accepted) delete packet;
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
  const bool worker = OnWorker();
  if (worker) EnterHandler();
  try {
    User_NewPacketArrived(packet);
  } catch (...) {
    ReportException("New-packet handler failed");
  }
  if (worker) FInHandler.store(false);
}

void TKelNetMonitor::User_NewPacketArrived(TKelNetPacket*) {
  TNewPacketEvent handler;
  {
    std::lock_guard<std::mutex> lock(FStateLock);
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
