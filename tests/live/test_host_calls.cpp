// A host's new-packet handler on the real driver: it may call the component's
// operations itself, and it may wait on the UI thread while the UI thread
// closes or pauses the component.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "tests/live/live_capture.h"

using namespace std::chrono_literals;
using netvane::lab::Bytes;
using netvane::lab::LiveCapture;
using netvane::lab::VethLab;

namespace {

#define REQUIRE_LAB(lab)                                                               \
  if (!netvane::lab::SkipReason().empty()) GTEST_SKIP() << netvane::lab::SkipReason(); \
  VethLab lab;                                                                         \
  if (!lab.ok()) GTEST_SKIP() << "could not create a veth pair in a namespace";

// Sends frames from the peer until stopped (at most 10 s): marker frames, and
// UDP frames from the peer's address whose destination port counts up.
class Sender {
 public:
  explicit Sender(const VethLab& lab)
      : thread_([this, &lab] {
          const auto end = std::chrono::steady_clock::now() + 10s;
          for (uint32_t i = 0; !stop_.load() && std::chrono::steady_clock::now() < end; ++i) {
            lab.InjectFromPeer(
                {netvane::lab::MarkerFrame(i),
                 netvane::lab::Ipv4UdpFrame(lab.peerIp(), "192.0.2.9", uint16_t(1000 + i % 60000))});
            std::this_thread::sleep_for(2ms);
          }
        }) {}
  ~Sender() {
    stop_.store(true);
    thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Ends the process with a message if a call hangs, instead of waiting for the
// test runner's time-out.
class Watchdog {
 public:
  explicit Watchdog(const char* what)
      : thread_([this, what] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (!wake_.wait_for(lock, 10s, [this] { return done_; })) {
            std::fprintf(stderr, "hung for 10 s: %s\n", what);
            std::abort();
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
  std::thread thread_;
};

// What a host's window would be: an object on the UI thread whose slot the
// handler calls and waits for (a named slot, so no functor crosses threads).
class Window : public QObject {
  Q_OBJECT
 public:
  std::atomic<int> shown{0};
 public slots:
  void Show() { ++shown; }
};

// Each operation called from the handler after its third frame, on the worker
// thread, ends as the same call from the UI thread would.
TEST(HostCalls, OperationsFromTheNewPacketHandler) {
  REQUIRE_LAB(lab);
  struct Case {
    const char* name;
    std::function<void(TKelNetMonitor&)> call;
    const char* statusLine;  // a line the call adds
    int statusCount;         // how often it is reported in all
    bool openAfter;
    bool boundAfter;
  };
  const std::string peer = lab.peerIp();
  const std::string adapter = lab.localIf();
  const Case cases[] = {
      {"Close", [](TKelNetMonitor& m) { m.Close(); }, "Network Monitoring System has been closed.", 1, false,
       false},
      {"PauseCapture", [](TKelNetMonitor& m) { m.PauseCapture(); }, "Monitoring of adapter has been paused.",
       1, true, false},
      {"StopCapture", [](TKelNetMonitor& m) { m.StopCapture(); }, "Monitoring of adapter has been stopped.",
       1, true, false},
      {"SelectAdapter", [adapter](TKelNetMonitor& m) { m.SelectAdapter(adapter); },
       "Monitoring of adapter started.", 2, true, true},
      {"set_FilterIP", [peer](TKelNetMonitor& m) { m.set_FilterIP(peer); }, nullptr, 0, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Watchdog watchdog(c.name);
    LiveCapture cap;
    std::atomic<int> taken{0};
    std::atomic<bool> called{false};
    std::atomic<bool> counting{false};  // frames sent well after the call
    std::atomic<int> markersAfter{0};
    std::atomic<int> udpAfter{0};
    cap.monitor.setOnNewPacket([&](TKelNetMonitor* sender) {
      TKelNetPacket record;
      while (sender->get_packetcount() > 0 && sender->GetNextPacket(&record)) {
        if (counting.load()) {
          const Bytes frame(record.Data, record.Data + record.Length);
          if (netvane::lab::MarkerIndex(frame)) ++markersAfter;
          if (netvane::lab::IpSource(frame) == lab.peerIp()) ++udpAfter;
        }
        if (++taken == 3) {
          c.call(*sender);
          called.store(true);
        }
      }
    });
    ASSERT_TRUE(cap.Start(lab.localIf()));
    {
      Sender sender(lab);
      ASSERT_TRUE(LiveCapture::WaitUntil([&] { return called.load(); }, 3000ms));
      // Frames read before the call may still arrive; what arrives after them
      // shows the capture's state.
      LiveCapture::Settle(300ms);
      counting.store(true);
      LiveCapture::Settle(300ms);
    }
    EXPECT_EQ(cap.monitor.isOpened(), c.openAfter);
    EXPECT_EQ(cap.monitor.isBound(), c.boundAfter);
    if (c.statusLine) {
      const auto lines = cap.lines();
      EXPECT_EQ(std::count(lines.begin(), lines.end(), c.statusLine), c.statusCount);
    }
    EXPECT_TRUE(cap.LinesStartingWith("TKelNetMonitor Error").empty())
        << cap.LinesStartingWith("TKelNetMonitor Error")[0];
    if (c.boundAfter) {
      EXPECT_GT(udpAfter.load(), 0) << "the capture stopped";
      if (std::string(c.name) == "set_FilterIP") {
        EXPECT_EQ(markersAfter.load(), 0) << "the filter is not installed";
      }
    } else {
      EXPECT_EQ(cap.monitor.get_driverp(), nullptr);
    }
    EXPECT_LT(LiveCapture::Timed([&] { cap.monitor.Close(); }), 200ms);
    EXPECT_FALSE(cap.monitor.threadRunning());
  }
}

// A handler that updates its window synchronously waits on the UI thread for
// every frame; Close and PauseCapture on the UI thread still return promptly.
TEST(HostCalls, HandlerWaitingOnTheUiThread) {
  REQUIRE_LAB(lab);
  struct Case {
    const char* name;
    std::function<void(TKelNetMonitor&)> call;
  };
  const Case cases[] = {{"Close", [](TKelNetMonitor& m) { m.Close(); }},
                        {"PauseCapture", [](TKelNetMonitor& m) { m.PauseCapture(); }}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Watchdog watchdog(c.name);
    LiveCapture cap;
    Window window;
    cap.monitor.setOnNewPacket([&](TKelNetMonitor* sender) {
      TKelNetPacket record;
      while (sender->get_packetcount() > 0 && sender->GetNextPacket(&record))
        QMetaObject::invokeMethod(&window, "Show", Qt::BlockingQueuedConnection);
    });
    ASSERT_TRUE(cap.Start(lab.localIf()));
    Sender sender(lab);
    ASSERT_TRUE(LiveCapture::WaitUntil([&] { return window.shown.load() >= 20; }, 3000ms));
    EXPECT_LT(LiveCapture::Timed([&] { c.call(cap.monitor); }), 500ms);
    EXPECT_FALSE(cap.monitor.isBound());
    EXPECT_LT(LiveCapture::Timed([&] { cap.monitor.Close(); }), 500ms);
    EXPECT_FALSE(cap.monitor.threadRunning());
  }
}

// A handler that waits for its host: for the UI thread's next timer tick, as
// a host does that hands each frame to its window and waits for the window to
// take it, or for a lock the host holds around its call. The host cannot go
// on while it is inside the call, so no call may wait for the handler; Close,
// which must, serves the timer while it waits.
TEST(HostCalls, HandlerWaitingForItsHost) {
  REQUIRE_LAB(lab);
  enum class Waits { ForATick, ForTheHostsLock };
  struct Case {
    const char* name;
    Waits waits;
    std::function<void(TKelNetMonitor&)> call;
    bool boundAfter;
  };
  const std::string adapter = lab.localIf();
  const Case cases[] = {
      {"PauseCapture, handler waits for a tick", Waits::ForATick, [](TKelNetMonitor& m) { m.PauseCapture(); },
       false},
      {"StopCapture, handler waits for a tick", Waits::ForATick, [](TKelNetMonitor& m) { m.StopCapture(); },
       false},
      {"adapter change, handler waits for a tick", Waits::ForATick,
       [adapter](TKelNetMonitor& m) { m.SelectAdapter(adapter); }, true},
      {"PauseCapture, handler waits for the host's lock", Waits::ForTheHostsLock,
       [](TKelNetMonitor& m) { m.PauseCapture(); }, false},
      {"StopCapture, handler waits for the host's lock", Waits::ForTheHostsLock,
       [](TKelNetMonitor& m) { m.StopCapture(); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Watchdog watchdog(c.name);
    LiveCapture cap;
    std::atomic<int> ticks{0};
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] { ++ticks; });
    tick.start(10);
    std::timed_mutex hostLock;
    std::atomic<bool> waiting{false};
    cap.monitor.setOnNewPacket([&](TKelNetMonitor* sender) {
      TKelNetPacket record;
      while (sender->get_packetcount() > 0 && sender->GetNextPacket(&record)) {
        const int seen = ticks.load();
        waiting.store(true);
        // Bounded, so that a component that waits for the handler shows as
        // a slow call rather than a hang.
        if (c.waits == Waits::ForATick) {
          WaitWithoutPumping([&] { return ticks.load() > seen; }, 3s);
        } else if (hostLock.try_lock_for(3s)) {
          hostLock.unlock();
        }
        waiting.store(false);
      }
    });
    ASSERT_TRUE(cap.Start(lab.localIf()));
    Sender sender(lab);
    {
      std::unique_lock<std::timed_mutex> held(hostLock, std::defer_lock);
      if (c.waits == Waits::ForTheHostsLock) held.lock();
      ASSERT_TRUE(WaitWithoutPumping([&] { return waiting.load(); }));
      EXPECT_LT(LiveCapture::Timed([&] { c.call(cap.monitor); }), 500ms);
    }
    EXPECT_EQ(cap.monitor.isBound(), c.boundAfter);
    EXPECT_LT(LiveCapture::Timed([&] { cap.monitor.Close(); }), 500ms);
    EXPECT_FALSE(cap.monitor.threadRunning());
  }
}

}  // namespace

#include "test_host_calls.moc"
