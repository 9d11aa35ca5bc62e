#pragma once
// What every capture driver must do for the component, as a parameterised
// GoogleTest suite that runs against any driver through a small rig.
//
// Using it for a driver: implement CaptureRig, then in exactly one .cpp file of
// a test binary (the TEST_P bodies live in this header):
//
//   #include "tests/capture/driver_contract.h"
//   INSTANTIATE_TEST_SUITE_P(MyDriver, DriverContract,
//       ::testing::Values(CaptureRigFactory{"mydriver", [] { return std::make_unique<MyRig>(); }}),
//       CaptureRigFactory::Name);
//
// The rig interface:
//   SkipReason()       non-empty when the rig cannot run here (no root, no
//                      namespaces, ...); every test then skips with that reason.
//   MakeDriver()       a driver constructed at run time (not open, no owner).
//   BindableAdapter()  the name (as Open lists it) of an adapter that binds and
//                      on which Emit makes frames arrive.
//   Emit(driver, f)    makes the adapter bound in `driver` receive the frames f,
//                      each exactly once and in order (a veth peer sends them;
//                      a fake queues them). Frames are whole Ethernet frames.
//   Settle()           waits until frames emitted so far have had every chance
//                      to arrive (a fake returns at once; a real link waits a
//                      little). Used before asserting that nothing arrived.
//
// The frames the suite sends use a local experimental EtherType and carry a
// per-test run tag, so other traffic on a real adapter is ignored by the
// collector, never counted.

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "capture/KelNetMonitor.h"

class CaptureRig {
 public:
  virtual ~CaptureRig() = default;
  virtual std::string SkipReason() { return {}; }
  virtual std::unique_ptr<TKelNetMonitor> MakeDriver() = 0;
  virtual std::string BindableAdapter() = 0;
  virtual void Emit(TKelNetMonitor& driver, const std::vector<std::vector<uint8_t>>& frames) = 0;
  virtual void Settle() {}
};

struct CaptureRigFactory {
  std::string name;
  std::function<std::unique_ptr<CaptureRig>()> make;
  static std::string Name(const ::testing::TestParamInfo<CaptureRigFactory>& info) { return info.param.name; }
};
inline void PrintTo(const CaptureRigFactory& f, std::ostream* os) {
  *os << f.name;
}

namespace contract {

constexpr uint16_t kEtherType = 0x88B5;  // IEEE local experimental

// Frame i of a run: broadcast destination, locally administered source,
// EtherType, tag, index, then a byte pattern that depends on both.
inline std::vector<uint8_t> MakeFrame(uint32_t tag, uint32_t index, uint32_t length) {
  std::vector<uint8_t> f(std::max<uint32_t>(length, 22), 0);
  for (int i = 0; i < 6; ++i) f[i] = 0xFF;
  const uint8_t src[6] = {0x02, 0x4E, 0x56, 0x00, 0x00, 0x01};
  std::copy(src, src + 6, f.begin() + 6);
  f[12] = kEtherType >> 8;
  f[13] = kEtherType & 0xFF;
  for (int b = 0; b < 4; ++b) {
    f[14 + b] = static_cast<uint8_t>(tag >> (24 - 8 * b));
    f[18 + b] = static_cast<uint8_t>(index >> (24 - 8 * b));
  }
  for (size_t i = 22; i < f.size(); ++i) f[i] = static_cast<uint8_t>(i * 7 + index + tag);
  return f;
}

struct Received {
  uint32_t index;
  std::vector<uint8_t> bytes;
  int32_t sequence;
  double timestamp;
};

// Takes every frame in the new-packet handler (on the worker thread, as the
// main window does) and keeps the ones of its own run.
class Collector {
 public:
  Collector(TKelNetMonitor& m, uint32_t tag) : FTag(tag) {
    m.setOnNewPacket([this](TKelNetMonitor* sender) {
      TKelNetPacket record;
      while (sender->get_packetcount() > 0 && sender->GetNextPacket(&record)) Take(record);
    });
  }
  void Take(const TKelNetPacket& r) {
    std::lock_guard<std::mutex> lock(FLock);
    ++FAllFrames;
    if (r.Length < 22 || r.Data[12] != (kEtherType >> 8) || r.Data[13] != (kEtherType & 0xFF)) return;
    uint32_t tag = 0, index = 0;
    for (int b = 0; b < 4; ++b) {
      tag = tag << 8 | r.Data[14 + b];
      index = index << 8 | r.Data[18 + b];
    }
    FSequences.push_back(r.SequenceNumber);
    if (tag != FTag) return;
    FFrames.push_back(
        {index, std::vector<uint8_t>(r.Data, r.Data + r.Length), r.SequenceNumber, r.Timestamp});
    FChanged.notify_all();
  }
  // Waits (bounded) until at least n frames of the run arrived.
  bool WaitFor(size_t n, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    std::unique_lock<std::mutex> lock(FLock);
    return FChanged.wait_for(lock, limit, [&] { return FFrames.size() >= n; });
  }
  std::vector<Received> Frames() {
    std::lock_guard<std::mutex> lock(FLock);
    return FFrames;
  }
  std::vector<int32_t> AllSequences() {
    std::lock_guard<std::mutex> lock(FLock);
    return FSequences;
  }
  void SetTag(uint32_t tag) {
    std::lock_guard<std::mutex> lock(FLock);
    FTag = tag;
    FFrames.clear();
  }

 private:
  std::mutex FLock;
  std::condition_variable FChanged;
  uint32_t FTag;
  std::vector<Received> FFrames;
  std::vector<int32_t> FSequences;
  int FAllFrames = 0;
};

inline std::vector<std::vector<uint8_t>> MakeRun(uint32_t tag, int count, uint32_t length) {
  std::vector<std::vector<uint8_t>> frames;
  for (int i = 0; i < count; ++i) frames.push_back(MakeFrame(tag, static_cast<uint32_t>(i), length));
  return frames;
}

template <class F>
std::chrono::milliseconds Timed(F&& f) {
  const auto t0 = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0);
}

}  // namespace contract

class DriverContract : public ::testing::TestWithParam<CaptureRigFactory> {
 protected:
  void SetUp() override {
    rig = GetParam().make();
    const std::string why = rig->SkipReason();
    if (!why.empty()) GTEST_SKIP() << why;
    driver = rig->MakeDriver();
    ASSERT_NE(driver, nullptr);
    driver->setShowErrMsgBox(false);  // a modal box would stop the test
    driver->setOnStatusMessage([this](TKelNetMonitor*, const std::string& line) { lines.push_back(line); });
    tag = std::random_device{}();
  }
  void TearDown() override {
    driver.reset();
    rig.reset();
  }
  // Open, select the rig's adapter, start, and start the worker.
  void StartCapturing(int interval = 5) {
    ASSERT_TRUE(driver->Open());
    ASSERT_TRUE(driver->SelectAdapter(rig->BindableAdapter()));
    ASSERT_TRUE(driver->StartCapture());
    driver->NotifyThreadStart(interval);
  }
  bool HasErrorLine() const {
    return std::any_of(lines.begin(), lines.end(),
                       [](const std::string& l) { return l.rfind("TKelNetMonitor Error: ", 0) == 0; });
  }

  std::unique_ptr<CaptureRig> rig;
  std::unique_ptr<TKelNetMonitor> driver;
  std::vector<std::string> lines;  // status lines seen on this (the UI) thread
  uint32_t tag = 0;
};

TEST_P(DriverContract, OpenListsTheAdapterAndCloseEmptiesTheTable) {
  ASSERT_TRUE(driver->Open());
  EXPECT_TRUE(driver->isOpened());
  EXPECT_GE(driver->get_adapternum(rig->BindableAdapter()), 0);
  EXPECT_FALSE(HasErrorLine());
  EXPECT_TRUE(driver->Close());
  EXPECT_FALSE(driver->isOpened());
  EXPECT_EQ(driver->adapterCount(), 0);
  EXPECT_EQ(driver->get_adapternum(rig->BindableAdapter()), -1);
}

TEST_P(DriverContract, HandleExistsOnlyWhileBound) {
  ASSERT_TRUE(driver->Open());
  EXPECT_EQ(driver->get_driverp(), nullptr);
  ASSERT_TRUE(driver->SelectAdapter(rig->BindableAdapter()));
  ASSERT_TRUE(driver->StartCapture());
  EXPECT_TRUE(driver->isBound());
  EXPECT_NE(driver->get_driverp(), nullptr);
  driver->PauseCapture();
  EXPECT_FALSE(driver->isBound());
  EXPECT_EQ(driver->get_driverp(), nullptr);
  EXPECT_FALSE(HasErrorLine());
}

// Frames arrive whole, once each and in order, for small and full-size frames
// and for a burst larger than one read batch.
TEST_P(DriverContract, DeliversEmittedFramesWholeAndInOrder) {
  struct Case {
    int count;
    uint32_t length;
  };
  const Case cases[] = {{1, 60}, {20, 1514}, {300, 60}};
  contract::Collector collector(*driver, tag);
  StartCapturing();
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.count) + " frames of " + std::to_string(c.length) + " bytes");
    const uint32_t runTag = ++tag;
    collector.SetTag(runTag);
    const auto frames = contract::MakeRun(runTag, c.count, c.length);
    const double before = TKelNetPacket::NowTimestamp();
    rig->Emit(*driver, frames);
    ASSERT_TRUE(collector.WaitFor(frames.size()));
    rig->Settle();
    const auto got = collector.Frames();
    ASSERT_EQ(got.size(), frames.size());  // none twice
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].index, i);
      EXPECT_EQ(got[i].bytes, frames[i]) << "frame " << i;
      if (i > 0) {
        EXPECT_GT(got[i].sequence, got[i - 1].sequence);
        EXPECT_GE(got[i].timestamp, got[i - 1].timestamp);
      }
      // Stamped when the driver built the record: between emission and now.
      EXPECT_GE(got[i].timestamp, before - 1.0 / 86400.0);
      EXPECT_LE(got[i].timestamp, TKelNetPacket::NowTimestamp() + 1.0 / 86400.0);
      EXPECT_LT(got[i].sequence, driver->receivedCount());
    }
  }
  // Sequence numbers count every frame the driver saw, without gaps or repeats.
  const auto all = collector.AllSequences();
  for (size_t i = 1; i < all.size(); ++i) EXPECT_GT(all[i], all[i - 1]);
  EXPECT_FALSE(HasErrorLine());
}

TEST_P(DriverContract, PausedAdapterDeliversNothingAndResumes) {
  contract::Collector collector(*driver, tag);
  StartCapturing();
  driver->PauseCapture();
  ASSERT_FALSE(driver->isBound());
  rig->Emit(*driver, contract::MakeRun(tag, 5, 60));
  rig->Settle();
  EXPECT_FALSE(collector.WaitFor(1, std::chrono::milliseconds(300)));

  const uint32_t resumed = tag + 1;
  collector.SetTag(resumed);
  ASSERT_TRUE(driver->StartCapture());
  EXPECT_TRUE(driver->threadRunning());  // pausing did not end the worker
  rig->Emit(*driver, contract::MakeRun(resumed, 5, 60));
  ASSERT_TRUE(collector.WaitFor(5));
  const auto got = collector.Frames();
  for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i].index, i);
}

TEST_P(DriverContract, ChangingTheFilterWhileCapturingKeepsDelivering) {
  contract::Collector collector(*driver, tag);
  StartCapturing();
  EXPECT_TRUE(driver->set_FilterIP(""));
  rig->Emit(*driver, contract::MakeRun(tag, 3, 60));
  EXPECT_TRUE(collector.WaitFor(3));
  EXPECT_FALSE(HasErrorLine());
}

// An idle adapter must not hold up the UI thread: each operation that changes
// the adapter or ends the worker returns promptly though no frame arrives.
TEST_P(DriverContract, IdleAdapterOperationsReturnPromptly) {
  using Op = std::function<void(TKelNetMonitor&)>;
  const std::pair<const char*, Op> ops[] = {
      {"PauseCapture", [](TKelNetMonitor& m) { m.PauseCapture(); }},
      {"StartCapture", [](TKelNetMonitor& m) { m.StartCapture(); }},
      {"StopCapture", [](TKelNetMonitor& m) { m.StopCapture(); }},
      {"StartCapture", [](TKelNetMonitor& m) { m.StartCapture(); }},
      {"SelectAdapter", [this](TKelNetMonitor& m) { m.SelectAdapter(rig->BindableAdapter()); }},
      {"Close", [](TKelNetMonitor& m) { m.Close(); }},
  };
  StartCapturing(0);
  for (const auto& [name, op] : ops) {
    std::this_thread::sleep_for(std::chrono::milliseconds(60));  // let the worker enter its read
    const auto took = contract::Timed([&] { op(*driver); });
    EXPECT_LT(took.count(), 200) << name;
  }
  EXPECT_FALSE(driver->threadRunning());
  EXPECT_FALSE(driver->isOpened());
}

TEST_P(DriverContract, DestroyingACapturingDriverEndsItsWorker) {
  contract::Collector collector(*driver, tag);
  StartCapturing();
  rig->Emit(*driver, contract::MakeRun(tag, 10, 60));
  const auto took = contract::Timed([&] { driver.reset(); });
  EXPECT_LT(took.count(), 1000);
}

TEST_P(DriverContract, CloseEndsTheWorkerBeforeUnbinding) {
  StartCapturing();
  ASSERT_TRUE(driver->Close());
  EXPECT_FALSE(driver->threadRunning());
  EXPECT_FALSE(driver->isBound());
  EXPECT_EQ(driver->get_driverp(), nullptr);
  EXPECT_EQ(driver->get_packetcount(), 0);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "Network Monitoring System has been closed.");
}
