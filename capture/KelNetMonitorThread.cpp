// The worker thread's body and its termination.
#include "capture/KelNetMonitorThread.h"

#include <chrono>

#include "capture/KelNetMonitor.h"

TKelNetMonitorThread::TKelNetMonitorThread(TKelNetMonitor* monitor, int32_t interval)
    : FMonitor(monitor), FInterval(interval < 0 ? 0 : interval), FThread([this] { Execute(); }) {}

TKelNetMonitorThread::~TKelNetMonitorThread() {
  Terminate();
  WaitFor();
}

void TKelNetMonitorThread::Terminate() {
  {
    // Set under the sleep lock so the body cannot miss the request between its
    // test and its wait.
    std::lock_guard<std::mutex> lock(FSleepLock);
    FTerminated.store(true);
  }
  FSleepWake.notify_all();
}

void TKelNetMonitorThread::WaitFor() {
  if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id()) FThread.join();
}

bool TKelNetMonitorThread::FinishedWithin(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(FSleepLock);
  return FFinishedWake.wait_for(lock, timeout, [this] { return FFinished; });
}

namespace {
thread_local TKelNetMonitorThread* tCurrent = nullptr;
}

TKelNetMonitorThread* TKelNetMonitorThread::Current() {
  return tCurrent;
}

void TKelNetMonitorThread::Execute() {
  tCurrent = this;
  Loop();
  {
    std::lock_guard<std::mutex> lock(FSleepLock);
    FFinished = true;
  }
  FFinishedWake.notify_all();
}

void TKelNetMonitorThread::Loop() {
  while (!FTerminated.load() && FMonitor != nullptr) {
    // Whatever a turn throws (the driver's poll, or a host's code it reaches)
    // is reported like a failed poll, and the thread goes on polling.
    try {
      FMonitor->ThreadTurn();
    } catch (...) {
      FMonitor->ReportException("Capture driver failed");
    }
    std::unique_lock<std::mutex> lock(FSleepLock);
    if (FInterval == 0) {
      lock.unlock();
      std::this_thread::yield();
      continue;
    }
    FSleepWake.wait_for(lock, std::chrono::milliseconds(FInterval), [this] { return FTerminated.load(); });
  }
}
