#pragma once
// The shared fake driver as the window tests drive it: a fixed adapter list,
// driver operations recorded under their virtual's name, frames that the test
// queues (or a steady stream) delivered by the worker thread while bound, and
// every error report kept.

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/fake_driver.h"

using Bytes = std::vector<uint8_t>;

class FakeMonitor : public FakeDriver {
 public:
  FakeMonitor(QObject* owner, const std::vector<std::string>& names) : FakeDriver(owner) {
    for (const auto& a : names) adapters.push_back({a, "Adapter " + a});
    SetStream(0);
  }
  // The most derived class ends the worker: it may still be inside a turn
  // that calls this object's virtual operations.
  ~FakeMonitor() override { DeInitialize(); }

  // Frames delivered on the worker thread's next turns while bound.
  void Queue(const std::vector<Bytes>& frames) {
    for (const Bytes& f : frames) ScriptFrame(f);
  }
  // Every turn delivers this many generated frames while bound (0: none, and
  // a turn delivers all that is queued).
  void SetStream(int perTurn) {
    maxPerCall.store(perTurn > 0 ? perTurn : 1 << 20);
    endless.store(perTurn > 0);
  }

  // The driver operations made, named like the virtuals: "Driver_BindAdapter eth0".
  std::vector<std::string> Calls() const {
    static const std::map<std::string, std::string> kNames = {{"Open", "Driver_Open"},
                                                              {"Close", "Driver_Close"},
                                                              {"List", "Driver_RetrieveAdapterList"},
                                                              {"Bind", "Driver_BindAdapter"},
                                                              {"Unbind", "Driver_UnBindAdapter"},
                                                              {"Filter", "Driver_SetFilter"}};
    std::vector<std::string> calls = FakeDriver::Calls();
    for (std::string& c : calls) {
      const auto name = kNames.find(c.substr(0, c.find(' ')));
      if (name != kNames.end()) c.replace(0, name->first.size(), name->second);
    }
    return calls;
  }
  // Every error report, with its collected texts.
  std::vector<std::string> Errors() const {
    const std::lock_guard<std::mutex> lock(FErrorsLock);
    return FErrors;
  }
  int Delivered() const { return HandedOver(); }

  void User_Error() override {
    {
      const std::lock_guard<std::mutex> lock(FErrorsLock);
      FErrors.push_back(errorText());
    }
    FakeDriver::User_Error();
  }

 private:
  mutable std::mutex FErrorsLock;
  std::vector<std::string> FErrors;
};
