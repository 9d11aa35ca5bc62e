#pragma once
// The component's worker thread: one poll of the driver, one pause, repeated
// until termination is requested. The pause is a wait on a condition variable,
// so a termination request ends it at once instead of after the full interval.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

class TKelNetMonitor;

class TKelNetMonitorThread final {
 public:
  // Starts the thread body at once. interval: pause after each poll, in ms.
  TKelNetMonitorThread(TKelNetMonitor* monitor, int32_t interval);
  // Requests termination and waits for the body if the owner has not done so.
  ~TKelNetMonitorThread();

  TKelNetMonitorThread(const TKelNetMonitorThread&) = delete;
  TKelNetMonitorThread& operator=(const TKelNetMonitorThread&) = delete;

  // Asks the body to return after the current poll and ends a running pause.
  void Terminate();
  bool Terminated() const { return FTerminated.load(); }
  // Waits until the body has returned. Must not be called on the thread itself.
  void WaitFor();
  // True once the body has returned, waiting at most `timeout` for it.
  bool FinishedWithin(std::chrono::milliseconds timeout);
  int32_t Interval() const { return FInterval; }
  // The worker running on the calling thread, or null on any other thread.
  static TKelNetMonitorThread* Current();
  TKelNetMonitor* Monitor() const { return FMonitor; }

 private:
  void Execute();
  void Loop();

  TKelNetMonitor* FMonitor;
  int32_t FInterval;
  std::atomic<bool> FTerminated{false};
  std::mutex FSleepLock;
  std::condition_variable FSleepWake;
  bool FFinished = false;  // guarded by FSleepLock
  std::condition_variable FFinishedWake;
  std::thread FThread;  // last: started only when every other field is ready
};
