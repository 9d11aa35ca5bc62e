// The worker thread: a std::thread that runs the component's worker body.
#include "capture/KelNetMonitorThread.h"

#include "capture/KelNetMonitor.h"

namespace {
thread_local TKelNetMonitorThread* tCurrent = nullptr;
}

TKelNetMonitorThread::TKelNetMonitorThread(TKelNetMonitor* monitor, int32_t interval)
    : FMonitor(monitor), FInterval(interval < 0 ? 0 : interval), FThread([this] {
        tCurrent = this;
        FMonitor->WorkerBody(FInterval);
      }) {}

TKelNetMonitorThread::~TKelNetMonitorThread() {
  if (FThread.joinable()) FThread.join();
}

TKelNetMonitorThread* TKelNetMonitorThread::Current() {
  return tCurrent;
}
