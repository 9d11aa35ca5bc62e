// The worker thread and delivery across threads: starting and ending the
// worker, prompt wake-up of a blocked read, hand-over of status lines, error
// boxes and the packet-count line to the UI thread.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <climits>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/fake_driver.h"
#include "tests/support/pump.h"

namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

struct Rig {
  Lines lines;
  std::vector<std::thread::id> lineThreads;
  FakeDriver m;
  Rig() {
    m.adapters = {{"eth0", "Ethernet 0"}, {"eth1", "Ethernet 1"}};
    m.setOnStatusMessage([this](TKelNetMonitor*, const std::string& l) {
      lines.push_back(l);
      lineThreads.push_back(std::this_thread::get_id());
    });
  }
  void Capture(int interval) {
    ASSERT_TRUE(m.Open());
    ASSERT_TRUE(m.SelectAdapter(0));
    ASSERT_TRUE(m.StartCapture());
    m.NotifyThreadStart(interval);
  }
};

template <class F>
long long MillisecondsOf(F&& f) {
  const auto t0 = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
}

TEST(Worker, SecondStartKeepsTheFirstThreadAndInterval) {
  Rig rig;
  rig.Capture(10000);  // one poll, then a long pause
  rig.m.NotifyThreadStart(0);
  ASSERT_TRUE(PumpUntil([&] { return rig.m.Turns() >= 1; }));
  // An interval of 0 would poll again at once.
  EXPECT_FALSE(PumpUntil([&] { return rig.m.Turns() > 1; }, 100ms));
  // Ending does not wait for the pause.
  EXPECT_LT(MillisecondsOf([&] { rig.m.NotifyThreadEnd(); }), 1000);
  EXPECT_FALSE(rig.m.threadRunning());
  rig.m.NotifyThreadEnd();  // without a thread: nothing happens
}

TEST(Worker, CloseEndsThePollBeforeUnbinding) {
  Rig rig;
  rig.m.readDelayMs = 50;  // a poll that is still running when Close comes
  rig.m.logReads = true;
  rig.Capture(1);
  ASSERT_TRUE(PumpUntil([&] { return rig.m.Turns() >= 1; }));
  rig.m.ClearCalls();
  EXPECT_TRUE(rig.m.Close());
  const auto events = rig.m.Events();
  const auto unbind = std::find(events.begin(), events.end(), "Unbind");
  ASSERT_NE(unbind, events.end());
  EXPECT_EQ(std::find(unbind, events.end(), "ReadEnd"), events.end()) << "a read ran after the unbind";
  EXPECT_EQ(std::count(events.begin(), events.end(), "ReadWhileUnbound"), 0);
  // After Close, frames need a new thread.
  EXPECT_FALSE(rig.m.threadRunning());
  ASSERT_TRUE(rig.m.Open());
  ASSERT_TRUE(rig.m.SelectAdapter(0));
  ASSERT_TRUE(rig.m.StartCapture());
  rig.m.ScriptFrames(2, 60);
  EXPECT_FALSE(PumpUntil([&] { return rig.m.receivedCount() > 0; }, 50ms));
  rig.m.NotifyThreadStart(1);
  EXPECT_TRUE(PumpUntil([&] { return rig.m.receivedCount() == 2; }));
}

// A host may start the worker after a failed Open; destroying the component
// must still end it (it would otherwise outlive the component).
TEST(Worker, DestructionEndsAThreadStartedWithoutOpen) {
  struct Case {
    const char* name;
    bool openFails;
  };
  for (const Case c : {Case{"never opened", false}, Case{"open failed", true}}) {
    SCOPED_TRACE(c.name);
    auto m = std::make_unique<FakeDriver>();
    m->blockingRead = true;
    if (c.openFails) {
      m->openResult = false;
      EXPECT_FALSE(m->Open());
    }
    m->NotifyThreadStart(1);
    EXPECT_TRUE(m->threadRunning());
    EXPECT_LT(MillisecondsOf([&] { m.reset(); }), 1000);
  }
}

// While a read is blocked waiting for traffic, every operation that changes
// the adapter or ends the worker wakes it and returns promptly.
TEST(Worker, BlockedReadIsWokenByEveryAdapterChange) {
  struct Case {
    const char* name;
    std::function<void(FakeDriver&)> op;
    bool threadEnds;
  };
  const Case cases[] = {
      {"PauseCapture", [](FakeDriver& m) { m.PauseCapture(); }, false},
      {"StopCapture", [](FakeDriver& m) { m.StopCapture(); }, false},
      {"SelectAdapter (rebind)", [](FakeDriver& m) { m.SelectAdapter(1); }, false},
      {"set_FilterIP", [](FakeDriver& m) { m.set_FilterIP("10.1.2.3"); }, false},
      {"Close", [](FakeDriver& m) { m.Close(); }, true},
      {"NotifyThreadEnd", [](FakeDriver& m) { m.NotifyThreadEnd(); }, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    rig.m.blockingRead = true;
    rig.Capture(1);
    ASSERT_TRUE(PumpUntil([&] { return rig.m.InBlockedRead(); }));
    const int wakesBefore = rig.m.Wakes();
    EXPECT_LT(MillisecondsOf([&] { c.op(rig.m); }), 200);
    EXPECT_GT(rig.m.Wakes(), wakesBefore);
    EXPECT_EQ(rig.m.threadRunning(), !c.threadEnds);
  }
}

// Status lines raised on the worker reach the host's handler on the UI
// thread, in the order raised, each once, also while error boxes are open
// (a box's nested event loop must not re-enter the hand-over).
TEST(HandOver, WorkerLinesArriveOnTheUiThreadInOrder) {
  for (bool boxes : {false, true}) {
    SCOPED_TRACE(boxes ? "with error boxes" : "without error boxes");
    Rig rig;
    rig.m.setShowErrMsgBox(boxes);
    rig.m.readErrorText = "poll failed ";
    int boxesSeen = 0;
    int maxOpen = 0;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
      const auto open = QApplication::topLevelWidgets();
      int count = 0;
      for (QWidget* w : open)
        if (qobject_cast<QMessageBox*>(w) && w->isVisible()) ++count;
      maxOpen = std::max(maxOpen, count);
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        ++boxesSeen;
        EXPECT_EQ(box->text(), "TKelNetMonitor Error: poll failed.");
        box->button(QMessageBox::Ok)->click();
      }
    });
    closer.start(5);
    rig.Capture(20);
    ASSERT_TRUE(PumpUntil([&] {
      return std::count(rig.lines.begin(), rig.lines.end(), "TKelNetMonitor Error: poll failed.") >= 5;
    }));
    rig.m.NotifyThreadEnd();
    // The rest of what the worker posted, boxes closed by the timer.
    QCoreApplication::sendPostedEvents(&rig.m);
    closer.stop();
    for (auto id : rig.lineThreads) EXPECT_EQ(id, std::this_thread::get_id());
    // The first lines are the UI thread's own, then only the worker's.
    const Lines head = {
        "Found network adapter eth0 (Ethernet 0).", "Found network adapter eth1 (Ethernet 1).",
        "Opened the Network Monitoring System.",    "Network adapter eth0 selected.",
        "Network adapter eth0 has been bound.",     "Monitoring of adapter started."};
    ASSERT_GE(rig.lines.size(), head.size());
    EXPECT_EQ(Lines(rig.lines.begin(), rig.lines.begin() + 6), head);
    for (size_t i = head.size(); i < rig.lines.size(); ++i)
      EXPECT_EQ(rig.lines[i], "TKelNetMonitor Error: poll failed.");
    if (boxes) {
      EXPECT_GE(boxesSeen, 5);
      EXPECT_LE(maxOpen, 1) << "a box opened inside another box's event loop";
    }
    EXPECT_EQ(rig.m.errorCount(), 0);
  }
}

// An error box raised on the UI thread while it holds the adapter (here the
// driver's own reason for refusing a filter, reported from inside the
// filter call) must not hold up the worker: frames keep flowing while the
// box is open.
TEST(HandOver, FramesKeepFlowingWhileAnErrorBoxIsOpen) {
  Rig rig;
  rig.m.setShowErrMsgBox(true);
  rig.m.refusedFilters = {"10.9.9.9"};
  rig.m.filterErrorText = "bpf refused";
  std::atomic<int> taken{0};
  rig.m.setOnNewPacket([&](TKelNetMonitor* s) {
    TKelNetPacket r;
    while (s->GetNextPacket(&r)) ++taken;
  });
  int boxes = 0;
  int takenWhenOpened = -1;
  int flowedWhileOpen = 0;
  int leastFlow = INT_MAX;
  std::chrono::steady_clock::time_point openedAt;
  QTimer answerer;
  QObject::connect(&answerer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    if (takenWhenOpened < 0) {
      takenWhenOpened = taken.load();
      openedAt = std::chrono::steady_clock::now();
    }
    flowedWhileOpen = taken.load() - takenWhenOpened;
    // Answered once frames have flowed, or after a while if they do not.
    if (flowedWhileOpen < 20 && std::chrono::steady_clock::now() - openedAt < 3s) return;
    ++boxes;
    leastFlow = std::min(leastFlow, flowedWhileOpen);
    takenWhenOpened = -1;
    box->button(QMessageBox::Ok)->click();
  });
  answerer.start(5);
  rig.m.endless = true;
  rig.m.maxPerCall = 1;
  rig.Capture(1);
  ASSERT_TRUE(PumpUntil([&] { return taken.load() > 0; }));
  EXPECT_FALSE(rig.m.set_FilterIP("10.9.9.9"));
  ASSERT_TRUE(PumpUntil([&] { return boxes == 2; }));  // the driver's reason, then the component's
  EXPECT_GE(leastFlow, 20) << "the worker stalled while a box was open";
  EXPECT_TRUE(rig.m.isBound());
  rig.m.Close();
}

// A host's status handler that throws on the UI thread: the exception goes on
// to the caller (the application's report), and the hand-over still delivers
// the rest of what the worker posted.
TEST(HandOver, ThrowingStatusHandlerLeavesTheHandOverOpen) {
  Rig rig;
  rig.m.setOnStatusMessage([&](TKelNetMonitor*, const std::string& l) {
    if (l == "first") throw std::runtime_error("host failed");
    rig.lines.push_back(l);
  });
  std::thread([&] {
    rig.m.User_StatusMessage("first");
    rig.m.User_StatusMessage("second");
  }).join();
  EXPECT_THROW(QCoreApplication::sendPostedEvents(&rig.m), std::runtime_error);
  EXPECT_TRUE(PumpUntil([&] { return rig.lines == Lines{"second"}; }));
}

TEST(HandOver, NewPacketEventRunsOnTheWorker) {
  Rig rig;
  std::atomic<bool> onUi{false};
  std::atomic<int> taken{0};
  const auto ui = std::this_thread::get_id();
  rig.m.setOnNewPacket([&](TKelNetMonitor* sender) {
    if (std::this_thread::get_id() == ui) onUi = true;
    TKelNetPacket r;
    while (sender->get_packetcount() > 0 && sender->GetNextPacket(&r)) ++taken;
  });
  rig.Capture(1);
  rig.m.ScriptFrames(20, 60);
  ASSERT_TRUE(PumpUntil([&] { return taken.load() == 20; }));
  EXPECT_FALSE(onUi.load());
  EXPECT_EQ(rig.m.get_packetcount(), 0);
}

// A burst of frames leaves one packet-count line to show, not one per frame,
// and the line shown is the newest.
TEST(HandOver, PacketCountLineIsCoalesced) {
  Rig rig;
  QStatusBar bar;
  rig.m.setStatusBar(&bar);
  int changes = 0;
  QObject::connect(&bar, &QStatusBar::messageChanged, [&] { ++changes; });
  rig.Capture(1);
  rig.m.maxPerCall = 1000;
  rig.m.ScriptFrames(1000, 60);
  ASSERT_TRUE(WaitWithoutPumping([&] { return rig.m.receivedCount() == 1000; }));
  changes = 0;
  ASSERT_TRUE(PumpUntil(
      [&] { return bar.currentMessage() == "1000 packets received (1000 still buffered locally)."; }));
  EXPECT_LE(changes, 2);
  rig.m.NotifyThreadEnd();
  rig.m.setStatusBar(nullptr);
}

TEST(HandOver, HandlersCanBeChangedWhileDelivering) {
  Rig rig;
  std::atomic<int> calls{0};
  rig.m.endless = true;
  rig.Capture(0);
  for (int i = 0; i < 200; ++i) {
    rig.m.setOnNewPacket([&](TKelNetMonitor* s) {
      ++calls;
      TKelNetPacket r;
      s->GetNextPacket(&r);
    });
    rig.m.StopCallbackEvents();
  }
  rig.m.setOnNewPacket([&](TKelNetMonitor*) { ++calls; });
  ASSERT_TRUE(PumpUntil([&] { return calls.load() > 0; }));
  rig.m.Close();
  EXPECT_GT(rig.m.receivedCount(), 0);
}

// The host closes its window (destroying the component) while an error box
// of the component is open: the rest of the hand-over must not touch it.
TEST(HandOver, ComponentDestroyedWhileItsErrorBoxIsOpen) {
  auto rig = std::make_unique<Rig>();
  QStatusBar bar;
  rig->m.setStatusBar(&bar);
  rig->m.setShowErrMsgBox(true);
  rig->m.readErrorText = "poll failed";
  bool destroyedInBox = false;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    if (rig) {
      rig.reset();
      destroyedInBox = true;
    }
    box->button(QMessageBox::Ok)->click();
  });
  closer.start(5);
  rig->Capture(5);
  EXPECT_TRUE(PumpUntil([&] { return destroyedInBox && QApplication::activeModalWidget() == nullptr; }));
  PumpUntil([] { return false; }, 50ms);  // whatever was still queued for it
}

// A host that closes the component from inside its new-packet handler runs
// Close on the worker, which cannot wait for itself: the worker ends after
// that turn and is joined later on the UI thread, instead of aborting. The
// next start joins it and starts a new worker.
TEST(Worker, CloseFromTheWorkersOwnHandler) {
  Rig rig;
  std::atomic<bool> closing{false};
  std::atomic<bool> closed{false};
  std::atomic<int> taken{0};
  rig.m.setOnNewPacket([&](TKelNetMonitor* s) {
    TKelNetPacket r;
    while (s->GetNextPacket(&r)) ++taken;
    if (closing.exchange(true)) return;
    s->Close();
    closed = true;
  });
  rig.Capture(1);
  rig.m.ScriptFrames(3, 60);
  ASSERT_TRUE(PumpUntil([&] { return closed.load(); }));
  EXPECT_FALSE(rig.m.isOpened());
  EXPECT_FALSE(rig.m.isBound());
  const int before = taken.load();
  EXPECT_LT(MillisecondsOf([&] { rig.Capture(1); }), 1000);
  rig.m.ScriptFrames(2, 60);
  EXPECT_TRUE(PumpUntil([&] { return taken.load() >= before + 2; }));
  EXPECT_LT(MillisecondsOf([&] { rig.m.NotifyThreadEnd(); }), 1000);
  EXPECT_FALSE(rig.m.threadRunning());
}

// A handler that throws must not end the process: each exception is reported
// through the error channel, later frames are still delivered, and the
// component closes and captures again as before.
TEST(Worker, ThrowingHandlerIsReportedAndTheComponentStaysUsable) {
  Rig rig;
  std::atomic<int> calls{0};
  rig.m.setOnNewPacket([&](TKelNetMonitor* s) {
    TKelNetPacket r;
    s->GetNextPacket(&r);
    const int n = ++calls;
    if (n == 1) throw std::runtime_error("host failed");
    if (n == 2) throw 42;
  });
  rig.Capture(1);
  rig.m.ScriptFrames(3, 60);
  const Lines reports = {"TKelNetMonitor Error: New-packet handler failed: host failed.",
                         "TKelNetMonitor Error: New-packet handler failed: an exception of unknown type."};
  auto reported = [&] {
    Lines errors;
    for (const auto& l : rig.lines)
      if (l.rfind("TKelNetMonitor Error: ", 0) == 0) errors.push_back(l);
    return errors;
  };
  ASSERT_TRUE(PumpUntil([&] { return calls.load() == 3 && reported().size() == 2; }));
  EXPECT_EQ(reported(), reports);
  EXPECT_TRUE(rig.m.Close());
  EXPECT_FALSE(rig.m.threadRunning());
  rig.Capture(1);
  rig.m.ScriptFrames(2, 60);
  EXPECT_TRUE(PumpUntil([&] { return calls.load() == 5; }));
}

// The received count, and the sequence numbers drivers take from it, run
// modulo 2^31: after 2147483647 comes 0, never a negative number.
TEST(Worker, CountAndSequenceNumbersWrapAtTheLimit) {
  Rig rig;
  std::mutex lock;
  std::vector<int32_t> sequences;
  rig.m.setOnNewPacket([&](TKelNetMonitor* s) {
    TKelNetPacket r;
    while (s->GetNextPacket(&r)) {
      std::lock_guard<std::mutex> g(lock);
      sequences.push_back(r.SequenceNumber);
    }
  });
  rig.m.FReceived.store(INT32_MAX - 1);
  rig.Capture(1);
  rig.m.ScriptFrames(3, 60);
  ASSERT_TRUE(PumpUntil([&] { return rig.m.HandedOver() == 3; }));
  std::lock_guard<std::mutex> g(lock);
  EXPECT_EQ(sequences, (std::vector<int32_t>{INT32_MAX - 1, INT32_MAX, 0}));
  EXPECT_EQ(rig.m.receivedCount(), 1);
}

// The UI thread served a host's queued call while it waited for the worker to
// end, and that call closed the component (ending the worker itself): the
// wait must notice the worker is gone rather than use it.
TEST(Worker, CloseServedWhileClosingWaitsForTheWorker) {
  Rig rig;
  QObject host;
  std::atomic<bool> posted{false};
  std::atomic<bool> served{false};
  rig.m.setOnNewPacket([&](TKelNetMonitor* s) {
    TKelNetPacket r;
    while (s->GetNextPacket(&r)) {
    }
    if (posted.exchange(true)) return;
    QMetaObject::invokeMethod(&host, [&] {
      served = true;
      rig.m.Close();
    });
    // Still inside the turn when the UI thread starts waiting for it.
    WaitWithoutPumping([&] { return served.load(); });
  });
  rig.Capture(1);
  rig.m.ScriptFrames(1, 60);
  // Not pumping: the queued call must reach the UI thread inside Close's wait.
  ASSERT_TRUE(WaitWithoutPumping([&] { return posted.load(); }));
  EXPECT_TRUE(rig.m.Close());
  EXPECT_TRUE(served.load());
  EXPECT_FALSE(rig.m.threadRunning());
  EXPECT_FALSE(rig.m.isOpened());
}

TEST(Worker, InitializeOnALiveComponentEndsTheWorkerAndFreesTheQueue) {
  Rig rig;
  rig.m.endless = true;
  rig.Capture(1);
  ASSERT_TRUE(PumpUntil([&] { return rig.m.get_packetcount() > 0; }));
  rig.m.Initialize();
  EXPECT_FALSE(rig.m.threadRunning());
  EXPECT_EQ(rig.m.get_packetcount(), 0);
  EXPECT_EQ(rig.m.receivedCount(), 0);
}

// A start handed to the worker waits for nothing. A bind that waits for an
// answer (a connect to another host) is given up at once, quietly, by a pause,
// a stop or a close, and not by the other work queued meanwhile; work that the
// busy worker cannot take within a second is dropped and reported.
TEST(Worker, AStartStillBindingIsGivenUpByWhatOvertakesIt) {
  const struct {
    const char* what;
    std::function<bool(FakeDriver&)> overtake;  // false: the component was closed
    const char* line;
  } cases[] = {
      {"pause", [](FakeDriver& m) { return m.PauseCapture(), true; },
       "Monitoring of adapter has been paused."},
      {"stop", [](FakeDriver& m) { return m.StopCapture(), true; },
       "Monitoring of adapter has been stopped."},
      {"close", [](FakeDriver& m) { return m.Close(), false; }, "Network Monitoring System has been closed."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Rig rig;
    rig.m.bindDelayMs = 20000;
    ASSERT_TRUE(rig.m.Open());
    ASSERT_TRUE(rig.m.SelectAdapter(0));
    rig.m.NotifyThreadStart(1);
    EXPECT_LT(MillisecondsOf([&] { rig.m.StartCaptureAsync(); }), 200);
    ASSERT_TRUE(PumpUntil([&] { return rig.m.InBind(); }));
    EXPECT_TRUE(rig.m.isStarting());

    // Work queued meanwhile wakes the worker but does not end the bind; what
    // the worker cannot take within a second never runs.
    const long long waited = MillisecondsOf([&] { EXPECT_FALSE(rig.m.SelectAdapter(1)); });
    EXPECT_GE(waited, 900);
    EXPECT_LT(waited, 3000);
    EXPECT_EQ(rig.m.selectedAdapter(), 0);
    EXPECT_TRUE(rig.m.InBind());

    bool open = true;
    EXPECT_LT(MillisecondsOf([&] { open = c.overtake(rig.m); }), 1000);
    ASSERT_TRUE(PumpUntil([&] { return !rig.m.isStarting(); }, 1s));
    EXPECT_FALSE(rig.m.isBound());
    const auto calls = rig.m.Calls();
    EXPECT_NE(std::find(calls.begin(), calls.end(), "BindGivenUp"), calls.end());
    PumpUntil([] { return false; }, 50ms);
    EXPECT_NE(std::find(rig.lines.begin(), rig.lines.end(), c.line), rig.lines.end());
    const Lines errors = {"TKelNetMonitor Error: The capture thread did not take the request within 1 s."};
    Lines reported;
    std::copy_if(rig.lines.begin(), rig.lines.end(), std::back_inserter(reported),
                 [](const std::string& l) { return l.rfind("TKelNetMonitor Error: ", 0) == 0; });
    EXPECT_EQ(reported, errors);  // the given-up bind is no failure
    EXPECT_EQ(std::count(rig.lines.begin(), rig.lines.end(), "Monitoring of adapter started."), 0);

    // A start after it binds as usual, also one that waits a little: on the
    // worker, or after a close on this thread.
    rig.m.bindDelayMs = 50;
    if (open) {
      rig.m.StartCaptureAsync();
      rig.m.Settle();
    } else {
      ASSERT_TRUE(rig.m.Open());
      ASSERT_TRUE(rig.m.SelectAdapter(0));
      EXPECT_TRUE(rig.m.StartCapture());
    }
    EXPECT_TRUE(rig.m.isBound());
    EXPECT_EQ(rig.lines.back(), "Monitoring of adapter started.");
  }
}

}  // namespace
