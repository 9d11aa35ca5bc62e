#pragma once
// A capture driver for the window tests: a scripted adapter list, a record of
// the driver operations the component makes, and frames that the test queues
// and the worker thread delivers through HandlePacket while an adapter is bound.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture/KelNetMonitor.h"

using Bytes = std::vector<uint8_t>;

class FakeMonitor : public TKelNetMonitor {
 public:
  FakeMonitor(QObject* owner, std::vector<std::string> adapters)
      : TKelNetMonitor(owner), FAdapters(std::move(adapters)) {
    setShowErrMsgBox(false);  // a modal box would stop an unattended test
  }
  ~FakeMonitor() override { DeInitialize(); }

  // Frames delivered on the worker thread's next turn while bound.
  void Queue(const std::vector<Bytes>& frames) {
    const std::lock_guard<std::mutex> lock(FLock);
    FPending.insert(FPending.end(), frames.begin(), frames.end());
    FQueued += static_cast<int>(frames.size());
  }
  // Every turn delivers this many generated frames while bound (0: none).
  void SetStream(int perTurn) { FStream.store(perTurn); }

  std::vector<std::string> Calls() const {
    const std::lock_guard<std::mutex> lock(FLock);
    return FCalls;
  }
  void ClearCalls() {
    const std::lock_guard<std::mutex> lock(FLock);
    FCalls.clear();
  }
  std::string BoundDevice() const {
    const std::lock_guard<std::mutex> lock(FLock);
    return FBoundDevice;
  }
  int Queued() const {
    const std::lock_guard<std::mutex> lock(FLock);
    return FQueued;
  }
  // Every error report, with its collected texts.
  std::vector<std::string> Errors() const {
    const std::lock_guard<std::mutex> lock(FLock);
    return FErrors;
  }
  int Delivered() const { return FDelivered.load(); }
  std::thread::id WorkerId() const {
    const std::lock_guard<std::mutex> lock(FLock);
    return FWorker;
  }

 protected:
  bool Driver_Open() override { return Log("Driver_Open"), true; }
  bool Driver_Close() override { return Log("Driver_Close"), true; }
  void Driver_RetrieveAdapterList() override {
    Log("Driver_RetrieveAdapterList");
    for (const auto& a : FAdapters) AddAdapter(a, "Adapter " + a);
  }
  bool Driver_BindAdapter(const char* deviceName) override {
    {
      const std::lock_guard<std::mutex> lock(FLock);
      FBoundDevice = deviceName;
    }
    Log(std::string("Driver_BindAdapter ") + deviceName);
    return true;
  }
  bool Driver_UnBindAdapter() override { return Log("Driver_UnBindAdapter"), true; }
  bool Driver_SetFilter(const std::string& list) override { return Log("Driver_SetFilter " + list), true; }
  std::string get_DriverName() override { return "fake"; }
  void User_Error() override {
    {
      const std::lock_guard<std::mutex> lock(FLock);
      FErrors.push_back(errorText());
    }
    TKelNetMonitor::User_Error();
  }

  void TakeTimeToProcess() override {
    {
      const std::lock_guard<std::mutex> lock(FLock);
      FWorker = std::this_thread::get_id();
    }
    if (!isBound()) return;
    std::vector<Bytes> batch;
    {
      const std::lock_guard<std::mutex> lock(FLock);
      batch.swap(FPending);
    }
    const int stream = FStream.load();
    for (int i = 0; i < stream; ++i) batch.push_back(Bytes(60, static_cast<uint8_t>(i)));
    for (const Bytes& b : batch) {
      HandlePacket(new TKelNetPacket(b.data(), static_cast<uint32_t>(b.size()), receivedCount(), true));
      FDelivered.fetch_add(1);
    }
  }

 private:
  void Log(std::string call) {
    const std::lock_guard<std::mutex> lock(FLock);
    FCalls.push_back(std::move(call));
  }

  const std::vector<std::string> FAdapters;
  mutable std::mutex FLock;
  std::vector<std::string> FCalls;
  std::vector<std::string> FErrors;
  std::vector<Bytes> FPending;
  std::string FBoundDevice;
  std::thread::id FWorker;
  int FQueued = 0;
  std::atomic<int> FDelivered{0};
  std::atomic<int> FStream{0};
};
