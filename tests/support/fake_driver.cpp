#include "tests/support/fake_driver.h"

#include <chrono>
#include <thread>

FakeDriver::FakeDriver(QObject* owner) : TKelNetMonitor(owner) {
  setShowErrMsgBox(false);
}

// Ends the worker while this class's operations still dispatch here.
FakeDriver::~FakeDriver() {
  DeInitialize();
}

void FakeDriver::Log(const std::string& call, bool isCall) {
  std::lock_guard<std::mutex> lock(FLogLock);
  if (isCall) FCalls.push_back(call);
  FEvents.push_back(call);
}

std::vector<std::string> FakeDriver::Calls() const {
  std::lock_guard<std::mutex> lock(FLogLock);
  return FCalls;
}

void FakeDriver::ClearCalls() {
  std::lock_guard<std::mutex> lock(FLogLock);
  FCalls.clear();
  FEvents.clear();
}

std::vector<std::string> FakeDriver::Events() const {
  std::lock_guard<std::mutex> lock(FLogLock);
  return FEvents;
}

std::vector<int32_t> FakeDriver::DeliveredSequence() const {
  std::lock_guard<std::mutex> lock(FLogLock);
  return FDelivered;
}

std::string FakeDriver::BoundDevice() const {
  std::lock_guard<std::mutex> lock(FLogLock);
  return FBoundDevice;
}

void FakeDriver::ScriptFrame(std::vector<uint8_t> bytes) {
  {
    std::lock_guard<std::mutex> lock(FScriptLock);
    FScript.push_back(std::move(bytes));
  }
  FScriptChanged.notify_all();
}

void FakeDriver::ScriptFrames(int count, uint32_t length) {
  for (int i = 0; i < count; ++i) {
    std::vector<uint8_t> bytes(length, 0xA5);
    int index;
    {
      std::lock_guard<std::mutex> lock(FScriptLock);
      index = FScriptIndex++;
    }
    for (uint32_t b = 0; b < 4 && b < length; ++b) bytes[b] = static_cast<uint8_t>(index >> (8 * b));
    ScriptFrame(std::move(bytes));
  }
}

bool FakeDriver::Driver_SetFilter(const std::string& filterList) {
  Log("Filter " + filterList);
  if (refusedFilters.count(filterList) == 0) return true;
  if (!filterErrorText.empty()) DNetError(filterErrorText);
  return false;
}

void FakeDriver::Driver_RetrieveAdapterList() {
  Log("List");
  if (!isOpened()) return;
  for (const auto& a : adapters) AddAdapter(a.name, a.description);
}

bool FakeDriver::Driver_Open() {
  Log("Open");
  return openResult;
}

bool FakeDriver::Driver_Close() {
  Log("Close");
  return closeResult;
}

bool FakeDriver::Driver_BindAdapter(const char* deviceName) {
  const std::string name = deviceName;
  Log("Bind " + name);
  if (bindDelayMs.load() > 0) {
    // Like a connect: other wake-ups (work queued meanwhile) do not end it.
    FInBind.store(true);
    bool givenUp;
    {
      std::unique_lock<std::mutex> lock(FScriptLock);
      givenUp = FScriptChanged.wait_for(lock, std::chrono::milliseconds(bindDelayMs.load()),
                                        [this] { return BindCancelled(); });
    }
    FInBind.store(false);
    if (givenUp) {
      Log("BindGivenUp");
      return false;
    }
  }
  if (refusedBinds.count(name) != 0) {
    if (!bindErrorText.empty()) DNetError(bindErrorText);
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(FLogLock);
    FBoundDevice = name;
  }
  FHandleOpen.store(true);
  return true;
}

bool FakeDriver::Driver_UnBindAdapter() {
  Log("Unbind");
  FHandleOpen.store(false);
  return unbindResult;
}

void* FakeDriver::get_driverp() {
  return FHandleOpen.load() ? &FHandle : nullptr;
}

void FakeDriver::Driver_WakeUp() {
  ++FWakes;
  {
    std::lock_guard<std::mutex> lock(FScriptLock);
    FWakePending = true;
  }
  FScriptChanged.notify_all();
}

void FakeDriver::Deliver(const std::vector<uint8_t>& bytes) {
  auto* packet = new TKelNetPacket(bytes.data(), static_cast<uint32_t>(bytes.size()), FReceived.load(), true);
  {
    std::lock_guard<std::mutex> lock(FLogLock);
    FDelivered.push_back(packet->SequenceNumber);
  }
  HandlePacket(packet);
  ++FHandedOver;
}

void FakeDriver::TakeTimeToProcess() {
  if (!isBound()) return;
  // A read must only ever run on an adapter that is bound; no driver
  // operation runs during a read, so that holds for the whole read.
  if (!FHandleOpen.load()) Log("ReadWhileUnbound", false);
  ++FTurns;
  if (readDelayMs.load() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(readDelayMs.load()));
  if (!readErrorText.empty()) DNetError(readErrorText);
  const int batch = maxPerCall.load();
  std::vector<uint8_t> generated;
  for (int delivered = 0; delivered < batch; ++delivered) {
    if (endless.load()) {
      generated.assign(endlessLength.load(), 0x5A);
      const int32_t seq = FReceived.load();
      for (size_t b = 0; b < 4 && b < generated.size(); ++b)
        generated[b] = static_cast<uint8_t>(seq >> (8 * b));
      Deliver(generated);
    } else {
      std::vector<uint8_t> frame;
      {
        std::unique_lock<std::mutex> lock(FScriptLock);
        if (FScriptHead == FScript.size()) {
          if (!blockingRead.load() || delivered > 0) break;
          // Like a library read on an idle adapter: waits for traffic or a
          // wake-up (bounded, so a test can never hang here).
          FInBlockedRead.store(true);
          FScriptChanged.wait_for(lock, std::chrono::seconds(5),
                                  [this] { return FScriptHead < FScript.size() || FWakePending; });
          FInBlockedRead.store(false);
          if (FWakePending) {
            FWakePending = false;
            break;
          }
          if (FScriptHead == FScript.size()) break;
        }
        frame = std::move(FScript[FScriptHead++]);
      }
      Deliver(frame);
    }
    if (WakeRequested()) break;
  }
  if (logReads.load()) Log("ReadEnd", false);
}
