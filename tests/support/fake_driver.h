#pragma once
// A scripted capture driver for tests. It reports the adapters it is given,
// accepts or refuses binds and filters as told, records the driver calls made
// on it, and delivers scripted (or endlessly generated) frames from the worker
// thread through HandlePacket. Its read can block until a frame is scripted or
// Driver_WakeUp is called, like a capture library's read on an idle adapter;
// its bind can wait as a connect to another host does, until a pause, stop or
// close gives it up.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "capture/KelNetMonitor.h"

class FakeDriver : public TKelNetMonitor {
 public:
  struct Adapter {
    std::string name;
    std::string description;
  };

  explicit FakeDriver(QObject* owner = nullptr);
  ~FakeDriver() override;

  // --- script: set on the test's thread before the operation that reads it ---
  std::vector<Adapter> adapters;
  bool openResult = true;
  bool closeResult = true;
  bool unbindResult = true;
  std::set<std::string> refusedBinds;    // device names Driver_BindAdapter refuses
  std::string bindErrorText;             // reported through DNetError before a refusal
  std::set<std::string> refusedFilters;  // filter lists Driver_SetFilter refuses
  std::string filterErrorText;           // reported through DNetError before a refusal
  std::atomic<int> maxPerCall{50};
  std::atomic<bool> blockingRead{false};  // an empty read waits for a frame or a wake-up
  std::atomic<bool> endless{false};       // every read delivers a full batch
  std::atomic<uint32_t> endlessLength{60};
  std::atomic<int> readDelayMs{0};    // each read first works this long (ignores wake-ups)
  std::atomic<int> bindDelayMs{0};    // each bind first waits this long, unless given up (BindCancelled)
  std::atomic<bool> logReads{false};  // record "ReadEnd" in Events() after each read
  std::string readErrorText;          // when set, each read reports it (set before the thread starts)

  // Queues frames for the worker to deliver; any thread.
  void ScriptFrame(std::vector<uint8_t> bytes);
  // count frames of the given length; byte 0..3 of each carry its script index.
  void ScriptFrames(int count, uint32_t length);

  // --- what happened ---
  std::vector<std::string> Calls() const;  // "Open", "List", "Bind eth0", "Filter a,b", "Unbind", "Close"
  void ClearCalls();
  // Event log including the worker's reads ("ReadEnd"), for ordering checks.
  std::vector<std::string> Events() const;
  std::vector<int32_t> DeliveredSequence() const;        // sequence numbers handed to HandlePacket
  std::string BoundDevice() const;                       // the last device a bind accepted
  int HandedOver() const { return FHandedOver.load(); }  // frames whose HandlePacket has returned
  int Turns() const { return FTurns.load(); }
  int Wakes() const { return FWakes.load(); }
  bool InBlockedRead() const { return FInBlockedRead.load(); }
  bool InBind() const { return FInBind.load(); }
  // Returns once the worker has done all work queued before (a start handed
  // over with StartCaptureAsync) and the lines it raised have been delivered.
  void Settle() {
    OnDriverThread([] {}, Wait::ForResult);
  }

  // Test access to protected parts of the component.
  using TKelNetMonitor::FReceived;
  using TKelNetMonitor::WakeRequested;

  // --- driver operations ---
  bool Driver_SetFilter(const std::string& filterList) override;
  void Driver_RetrieveAdapterList() override;
  bool Driver_Open() override;
  bool Driver_Close() override;
  bool Driver_BindAdapter(const char* deviceName) override;
  bool Driver_UnBindAdapter() override;
  void TakeTimeToProcess() override;
  std::string get_DriverName() override { return "fake"; }
  void* get_driverp() override;
  void Driver_WakeUp() override;

 private:
  void Log(const std::string& call, bool isCall = true);
  void Deliver(const std::vector<uint8_t>& bytes);

  mutable std::mutex FLogLock;
  std::vector<std::string> FCalls;
  std::vector<std::string> FEvents;
  std::vector<int32_t> FDelivered;
  std::string FBoundDevice;

  std::mutex FScriptLock;
  std::condition_variable FScriptChanged;
  std::vector<std::vector<uint8_t>> FScript;  // oldest first
  size_t FScriptHead = 0;
  bool FWakePending = false;
  int FScriptIndex = 0;

  std::atomic<bool> FHandleOpen{false};
  int FHandle = 0;  // what get_driverp points at while bound
  std::atomic<int> FTurns{0};
  std::atomic<int> FWakes{0};
  std::atomic<int> FHandedOver{0};
  std::atomic<bool> FInBlockedRead{false};
  std::atomic<bool> FInBind{false};
};
