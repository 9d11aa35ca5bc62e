#pragma once
// The component's worker thread. Its body is the component's: turns of
// TakeTimeToProcess and a pause, with the work other threads queue to it run
// between them, until the component asks it to end (KelNetMonitor.h).

#include <cstdint>
#include <thread>

class TKelNetMonitor;

class TKelNetMonitorThread final {
 public:
  // Starts the body at once. interval: pause after each poll, in ms.
  TKelNetMonitorThread(TKelNetMonitor* monitor, int32_t interval);
  // Waits for the body, which the component has asked to end.
  ~TKelNetMonitorThread();

  TKelNetMonitorThread(const TKelNetMonitorThread&) = delete;
  TKelNetMonitorThread& operator=(const TKelNetMonitorThread&) = delete;

  // The worker running on the calling thread, or null on any other thread.
  static TKelNetMonitorThread* Current();
  TKelNetMonitor* Monitor() const { return FMonitor; }

 private:
  TKelNetMonitor* FMonitor;
  int32_t FInterval;
  std::thread FThread;  // last: started only when every other field is ready
};
