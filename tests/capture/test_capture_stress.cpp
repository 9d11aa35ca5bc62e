// The worker delivers frames as fast as it can while the UI thread cycles
// through every operation that changes the capture. Every frame the driver
// hands over must reach the consumer exactly once, in order, intact; and
// nothing may hang (a watchdog ends the process if it does). Meant to run
// under ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QStatusBar>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/fake_driver.h"

namespace {

using namespace std::chrono_literals;

// Ends the process when the test has not finished in time: a hang must fail
// loudly rather than stall the suite.
class Watchdog {
 public:
  explicit Watchdog(std::chrono::seconds limit)
      : FThread([this, limit] {
          std::unique_lock<std::mutex> lock(FLock);
          if (!FDone.wait_for(lock, limit, [this] { return FFinished; })) {
            std::fprintf(stderr, "watchdog: stress test hung during '%s'\n", FStep.load());
            std::fflush(stderr);
            std::_Exit(3);
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(FLock);
      FFinished = true;
    }
    FDone.notify_all();
    FThread.join();
  }
  void Step(const char* name) { FStep.store(name); }

 private:
  std::mutex FLock;
  std::condition_variable FDone;
  bool FFinished = false;
  std::atomic<const char*> FStep{"start"};
  std::thread FThread;
};

struct Consumer {
  std::mutex lock;
  std::vector<int32_t> sequences;
  std::atomic<int> corrupt{0};

  void Take(FakeDriver& m) {
    TKelNetPacket r;
    while (m.get_packetcount() > 0 && m.GetNextPacket(&r)) {
      // The driver writes the sequence number into the first four bytes.
      int32_t inBytes = 0;
      for (int b = 0; b < 4; ++b) inBytes |= static_cast<int32_t>(r.Data[b]) << (8 * b);
      if (r.Length != 60 || inBytes != r.SequenceNumber || r.Data[59] != 0x5A) ++corrupt;
      std::lock_guard<std::mutex> g(lock);
      sequences.push_back(r.SequenceNumber);
    }
  }
};

TEST(Stress, UiCyclesWhileTheWorkerDeliversFlatOut) {
  Watchdog watchdog(240s);
  QStatusBar bar;
  Consumer consumer;
  std::vector<std::string> errors;
  FakeDriver m;
  m.adapters = {{"fk0", "Fake 0"}, {"fk1", "Fake 1"}};
  m.endless = true;
  m.setStatusBar(&bar);
  m.setOnNewPacket([&](TKelNetMonitor*) { consumer.Take(m); });
  // The only error a round may cause: a start before any adapter was selected.
  m.setOnStatusMessage([&](TKelNetMonitor*, const std::string& l) {
    if (l.rfind("TKelNetMonitor Error: ", 0) == 0 &&
        l != "TKelNetMonitor Error: Invalid network adapter specified.")
      errors.push_back(l);
  });

  std::mt19937 rng(20261208);
  int bindsWhileDelivering = 0;
  constexpr int kRounds = 1500;
  for (int i = 0; i < kRounds; ++i) {
    const int op = std::uniform_int_distribution<int>(0, 9)(rng);
    const int32_t before = m.receivedCount();
    switch (op) {
      case 0:
      case 1:
      case 2:
        watchdog.Step("StartCapture");
        m.StartCapture();
        break;
      case 3:
        watchdog.Step("PauseCapture");
        m.PauseCapture();
        break;
      case 4:
        watchdog.Step("StopCapture");
        m.StopCapture();
        break;
      case 5:
      case 6:
        watchdog.Step("SelectAdapter");
        m.SelectAdapter(std::uniform_int_distribution<int>(0, 2)(rng));  // 2 is invalid
        break;
      case 7:
      case 8:
        watchdog.Step("Open");
        m.Open();
        break;
      case 9:
        watchdog.Step("Close");
        m.Close();
        break;
    }
    m.maxPerCall = std::uniform_int_distribution<int>(1, 64)(rng);
    if (!m.threadRunning()) m.NotifyThreadStart(0);
    if (m.isBound()) {
      // Let frames flow for a moment before the next change.
      watchdog.Step("waiting for frames");
      const auto end = std::chrono::steady_clock::now() + 50ms;
      while (m.receivedCount() < before + 20 && std::chrono::steady_clock::now() < end)
        std::this_thread::yield();
      if (m.receivedCount() > before) ++bindsWhileDelivering;
    }
    if (i % 8 == 0) QCoreApplication::processEvents();
  }
  watchdog.Step("final Close");
  m.Close();
  QCoreApplication::processEvents();

  const auto delivered = m.DeliveredSequence();
  std::vector<int32_t> consumed;
  {
    std::lock_guard<std::mutex> g(consumer.lock);
    consumed = consumer.sequences;
  }
  RecordProperty("frames", static_cast<int>(delivered.size()));
  RecordProperty("rounds_with_frames", bindsWhileDelivering);
  std::printf("%zu frames, %d of %d rounds with frames flowing\n", delivered.size(), bindsWhileDelivering,
              kRounds);
  EXPECT_GT(bindsWhileDelivering, 50) << "too few rounds saw frames flowing";
  EXPECT_GT(delivered.size(), 1000u);
  // Every frame handed to the component reached the consumer once, in order;
  // the FIFO never dropped or drained one (the consumer empties it each time).
  ASSERT_EQ(consumed.size(), delivered.size());
  EXPECT_TRUE(consumed == delivered);
  for (size_t i = 0; i < consumed.size(); ++i) {
    if (consumed[i] != static_cast<int32_t>(i)) {
      ADD_FAILURE() << "frame " << i << " has sequence number " << consumed[i];
      break;
    }
  }
  EXPECT_EQ(m.receivedCount(), static_cast<int32_t>(delivered.size()));
  EXPECT_EQ(consumer.corrupt.load(), 0);
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(m.get_packetcount(), 0);
  const auto events = m.Events();
  EXPECT_EQ(std::count(events.begin(), events.end(), "ReadWhileUnbound"), 0)
      << "a read ran on an unbound adapter";
  m.setStatusBar(nullptr);
}

}  // namespace
