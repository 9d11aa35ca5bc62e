// The component's lifecycle on the UI thread: the state table with its exact
// status and error lines and driver calls, the address-filter list, the error
// channel, the adapter combo box and the guarded control references.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/fake_driver.h"
#include "tests/support/pump.h"

namespace {

using Lines = std::vector<std::string>;

const std::string kClosed = "Network Monitoring System has been closed.";
const std::string kOpened = "Opened the Network Monitoring System.";
const std::string kStarted = "Monitoring of adapter started.";
const std::string kStopped = "Monitoring of adapter has been stopped.";
const std::string kPaused = "Monitoring of adapter has been paused.";
const std::string kUnbound = "Network adapter has been unbound.";
std::string Found(const std::string& n, const std::string& d) {
  return "Found network adapter " + n + " (" + d + ").";
}
std::string Bound(const std::string& n) {
  return "Network adapter " + n + " has been bound.";
}
std::string Selected(const std::string& n) {
  return "Network adapter " + n + " selected.";
}
std::string Error(const std::string& t) {
  return "TKelNetMonitor Error: " + t + ".";
}

// A driver with two adapters whose status lines are recorded.
struct Rig {
  Lines lines;
  FakeDriver m;
  Rig() {
    m.adapters = {{"eth0", "Ethernet 0"}, {"eth1", "Ethernet 1"}};
    m.setOnStatusMessage([this](TKelNetMonitor*, const std::string& l) { lines.push_back(l); });
  }
  // Brings the component to Capturing on eth0, then forgets what it took.
  void Capture() {
    ASSERT_TRUE(m.Open());
    ASSERT_TRUE(m.SelectAdapter(0));
    ASSERT_TRUE(m.StartCapture());
    Forget();
  }
  void Forget() {
    lines.clear();
    m.ClearCalls();
  }
};

enum class State { Closed, Open, Capturing };
State StateOf(const FakeDriver& m) {
  if (m.isBound()) return m.isOpened() ? State::Capturing : State::Closed;  // bound but closed is no state
  return m.isOpened() ? State::Open : State::Closed;
}

struct Transition {
  const char* name;
  std::function<void(Rig&)> setup;  // arranges the start state, then Forget()s
  std::function<bool(Rig&)> act;    // the operation under test and its result
  bool result;
  Lines lines;
  std::vector<std::string> calls;
  State state;
};

void RunTransition(const Transition& t) {
  SCOPED_TRACE(t.name);
  Rig rig;
  t.setup(rig);
  const bool result = t.act(rig);
  EXPECT_EQ(result, t.result);
  EXPECT_EQ(rig.lines, t.lines);
  EXPECT_EQ(rig.m.Calls(), t.calls);
  EXPECT_EQ(StateOf(rig.m), t.state);
}

auto Nothing = [](Rig& r) { r.Forget(); };
auto Opened = [](Rig& r) {
  ASSERT_TRUE(r.m.Open());
  r.Forget();
};
auto Capturing = [](Rig& r) { r.Capture(); };

TEST(StateTable, OpenAndClose) {
  const Transition table[] = {
      {"close a component never opened",
       Nothing,
       [](Rig& r) { return r.m.Close(); },
       true,
       {kClosed},
       {},
       State::Closed},
      {"open lists the adapters",
       Nothing,
       [](Rig& r) { return r.m.Open(); },
       true,
       {Found("eth0", "Ethernet 0"), Found("eth1", "Ethernet 1"), kOpened},
       {"Open", "List"},
       State::Open},
      {"driver refuses to open",
       [](Rig& r) {
         r.m.openResult = false;
         r.Forget();
       },
       [](Rig& r) { return r.m.Open(); },
       false,
       {Error("Could not open Network Monitor Driver")},
       {"Open"},
       State::Closed},
      {"no adapter found closes the driver again",
       [](Rig& r) {
         r.m.adapters.clear();
         r.Forget();
       },
       [](Rig& r) { return r.m.Open() || r.m.adapterCount() != 0; },
       false,
       {Error("No network adapters found")},
       {"Open", "List", "Close"},
       State::Closed},
      {"open on an open component closes it first and refills from 0",
       Opened,
       [](Rig& r) { return r.m.Open() && r.m.adapterCount() == 2; },
       true,
       {kStopped, kClosed, Found("eth0", "Ethernet 0"), Found("eth1", "Ethernet 1"), kOpened},
       {"Close", "Open", "List"},
       State::Open},
      {"close while capturing unbinds, drains and closes the driver",
       Capturing,
       [](Rig& r) { return r.m.Close(); },
       true,
       {kUnbound, kStopped, kClosed},
       {"Unbind", "Close"},
       State::Closed},
      {"close reports the driver's refusal",
       [](Rig& r) {
         r.m.closeResult = false;
         Opened(r);
       },
       [](Rig& r) { return r.m.Close(); },
       false,
       {kStopped, kClosed},
       {"Close"},
       State::Closed},
  };
  for (const auto& t : table) RunTransition(t);
}

TEST(StateTable, StartPauseStop) {
  const Transition table[] = {
      {"start before open is silent",
       Nothing,
       [](Rig& r) { return r.m.StartCapture(); },
       false,
       {},
       {},
       State::Closed},
      {"start without a selection",
       Opened,
       [](Rig& r) { return r.m.StartCapture(); },
       false,
       {Error("Invalid network adapter specified")},
       {},
       State::Open},
      {"select then start binds and installs the empty filter",
       Opened,
       [](Rig& r) { return r.m.SelectAdapter(0) && r.m.StartCapture(); },
       true,
       {Selected("eth0"), Bound("eth0"), kStarted},
       {"Bind eth0", "Filter "},
       State::Capturing},
      {"start while capturing repeats the line only",
       Capturing,
       [](Rig& r) { return r.m.StartCapture(); },
       true,
       {kStarted},
       {},
       State::Capturing},
      {"refused bind reports the driver's reason, then its own",
       [](Rig& r) {
         r.m.refusedBinds = {"eth1"};
         r.m.bindErrorText = "fake: no such device";
         Opened(r);
       },
       [](Rig& r) { return r.m.SelectAdapter(1) && r.m.StartCapture(); },
       false,
       {Selected("eth1"), Error("fake: no such device"), Error("Failed to bind adapter eth1")},
       {"Bind eth1"},
       State::Open},
      {"refused filter unbinds again",
       [](Rig& r) {
         r.m.refusedFilters = {""};
         Opened(r);
         ASSERT_TRUE(r.m.SelectAdapter(0));
         r.Forget();
       },
       [](Rig& r) { return r.m.StartCapture(); },
       false,
       {Bound("eth0"), Error("Failed to install standard ip filter"), kUnbound},
       {"Bind eth0", "Filter ", "Unbind"},
       State::Open},
      {"pause while capturing",
       Capturing,
       [](Rig& r) {
         r.m.PauseCapture();
         return true;
       },
       true,
       {kUnbound, kPaused},
       {"Unbind"},
       State::Open},
      {"pause with nothing bound",
       Opened,
       [](Rig& r) {
         r.m.PauseCapture();
         return true;
       },
       true,
       {kPaused},
       {},
       State::Open},
      {"stop while capturing",
       Capturing,
       [](Rig& r) {
         r.m.StopCapture();
         return true;
       },
       true,
       {kUnbound, kStopped},
       {"Unbind"},
       State::Open},
      {"stop with nothing bound still drains",
       [](Rig& r) {
         r.Capture();
         r.m.PauseCapture();
         uint8_t b[3] = {1, 2, 3};
         r.m.HandlePacket(new TKelNetPacket(b, 3, 0, true));
         r.Forget();
       },
       [](Rig& r) {
         r.m.StopCapture();
         return r.m.get_packetcount() == 0;
       },
       true,
       {kStopped},
       {},
       State::Open},
      {"unbind result is the driver's",
       [](Rig& r) {
         r.m.unbindResult = false;
         r.Capture();
       },
       [](Rig& r) { return r.m.UnBindAdapter(); },
       false,
       {kUnbound},
       {"Unbind"},
       State::Open},
      {"bind on a closed component with adapters added by hand",
       [](Rig& r) {
         r.m.AddAdapter("x0", "X");
         r.Forget();
       },
       [](Rig& r) { return r.m.BindAdapter(0); },
       false,
       {Error("Cannot bind an adapter until the network monitor is opened")},
       {},
       State::Closed},
  };
  for (const auto& t : table) RunTransition(t);
}

TEST(StateTable, SelectAdapter) {
  const Transition table[] = {
      {"select while open",
       Opened,
       [](Rig& r) { return r.m.SelectAdapter(1) && r.m.selectedAdapter() == 1; },
       true,
       {Selected("eth1")},
       {},
       State::Open},
      {"select by description",
       Opened,
       [](Rig& r) { return r.m.SelectAdapter(std::string("Ethernet 1")) && r.m.selectedAdapter() == 1; },
       true,
       {Selected("eth1")},
       {},
       State::Open},
      {"select an unknown text",
       Opened,
       [](Rig& r) { return r.m.SelectAdapter(std::string("wlan9")); },
       false,
       {"Invalid Network adapter specified."},
       {},
       State::Open},
      {"valid index while capturing moves the capture and drains",
       [](Rig& r) {
         r.Capture();
         uint8_t b[3] = {1, 2, 3};
         r.m.HandlePacket(new TKelNetPacket(b, 3, 0, true));
       },
       [](Rig& r) { return r.m.SelectAdapter(1) && r.m.get_packetcount() == 0; },
       true,
       {kUnbound, kStopped, Bound("eth1"), kStarted},
       {"Unbind", "Bind eth1", "Filter "},
       State::Capturing},
      {"invalid index while capturing stops and keeps the selection",
       Capturing,
       [](Rig& r) { return r.m.SelectAdapter(5) || r.m.selectedAdapter() != 0; },
       false,
       {"Invalid Network adapter specified.", kUnbound, kStopped},
       {"Unbind"},
       State::Open},
      {"negative index",
       Opened,
       [](Rig& r) { return r.m.SelectAdapter(-1); },
       false,
       {"Invalid Network adapter specified."},
       {},
       State::Open},
      {"selection survives close and open",
       [](Rig& r) {
         ASSERT_TRUE(r.m.Open());
         ASSERT_TRUE(r.m.SelectAdapter(1));
         r.m.Close();
         ASSERT_TRUE(r.m.Open());
         r.Forget();
       },
       [](Rig& r) { return r.m.StartCapture(); },
       true,
       {Bound("eth1"), kStarted},
       {"Bind eth1", "Filter "},
       State::Capturing},
      {"a shorter table after reopening invalidates the selection",
       [](Rig& r) {
         ASSERT_TRUE(r.m.Open());
         ASSERT_TRUE(r.m.SelectAdapter(1));
         r.m.Close();
         r.m.adapters.pop_back();
         ASSERT_TRUE(r.m.Open());
         r.Forget();
       },
       [](Rig& r) { return r.m.StartCapture(); },
       false,
       {Error("Invalid network adapter specified")},
       {},
       State::Open},
  };
  for (const auto& t : table) RunTransition(t);
}

TEST(AdapterTable, MatchesNameOrDescriptionFirstIndexWins) {
  Rig rig;
  rig.m.adapters = {{"a", "shared"}, {"shared", "b"}, {"c", "C"}};
  ASSERT_TRUE(rig.m.Open());
  const std::pair<std::string, int> table[] = {{"shared", 0}, {"a", 0},       {"b", 1}, {"C", 2},
                                               {"c", 2},      {"SHARED", -1}, {"", -1}, {"c ", -1}};
  for (const auto& [text, index] : table) EXPECT_EQ(rig.m.get_adapternum(text), index) << "'" << text << "'";
}

// Hosts with containers or virtual machines have dozens of adapters; every
// one must be reachable, also after the table has been filled once before.
TEST(AdapterTable, GrowsPastTwentyAndRefills) {
  Rig rig;
  rig.m.adapters.clear();
  for (int i = 0; i < 130; ++i) rig.m.adapters.push_back({"n" + std::to_string(i), "d" + std::to_string(i)});
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(rig.m.Open());
    EXPECT_EQ(rig.m.adapterCount(), 130);
    EXPECT_EQ(rig.m.adapterName(129), "n129");
    EXPECT_EQ(rig.m.adapterName(130), "");
    EXPECT_EQ(rig.m.get_adapternum("d120"), 120);
    EXPECT_TRUE(rig.m.SelectAdapter("n125"));
    EXPECT_EQ(rig.m.selectedAdapter(), 125);
  }
}

// --- address-filter list ----------------------------------------------------------------

TEST(FilterList, StoredAlwaysInstalledWhileBound) {
  struct Case {
    const char* name;
    bool bound;
    std::string list;
    bool refuse;
    bool result;
    Lines lines;
    std::vector<std::string> calls;
  };
  const Case cases[] = {
      {"unbound: stored, nothing installed", false, "10.0.0.1", false, true, {}, {}},
      {"bound: installed", true, "10.0.0.1,10.0.0.7", false, true, {}, {"Filter 10.0.0.1,10.0.0.7"}},
      {"bound, refused list",
       true,
       "10.0.0.1,10.0.0.7",
       true,
       false,
       {Error("Failed to install ip filter 10.0.0.1,10.0.0.7")},
       {"Filter 10.0.0.1,10.0.0.7"}},
      {"bound, refused empty list",
       true,
       "",
       true,
       false,
       {Error("Failed to install standard ip filter")},
       {"Filter "}},
      {"text is stored unchecked", true, " not an address ", false, true, {}, {"Filter  not an address "}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    if (c.bound) rig.Capture();
    if (c.refuse) rig.m.refusedFilters = {c.list};
    rig.Forget();
    EXPECT_EQ(rig.m.set_FilterIP(c.list), c.result);
    EXPECT_EQ(rig.m.get_FilterIP(), c.list);  // kept even when refused
    EXPECT_EQ(rig.lines, c.lines);
    EXPECT_EQ(rig.m.Calls(), c.calls);
    EXPECT_EQ(rig.m.isBound(), c.bound);  // a refused change does not unbind
  }
}

TEST(FilterList, NextBindInstallsTheStoredListAndARefusalUnbinds) {
  Rig rig;
  ASSERT_TRUE(rig.m.Open());
  ASSERT_TRUE(rig.m.set_FilterIP("10.0.0.1,10.0.0.2"));
  ASSERT_TRUE(rig.m.SelectAdapter(0));
  rig.Forget();
  ASSERT_TRUE(rig.m.StartCapture());
  EXPECT_EQ(rig.m.Calls(), (std::vector<std::string>{"Bind eth0", "Filter 10.0.0.1,10.0.0.2"}));

  rig.m.PauseCapture();
  rig.m.refusedFilters = {"10.0.0.1,10.0.0.2"};
  rig.Forget();
  EXPECT_FALSE(rig.m.StartCapture());
  EXPECT_EQ(rig.lines,
            (Lines{Bound("eth0"), Error("Failed to install ip filter 10.0.0.1,10.0.0.2"), kUnbound}));
  EXPECT_EQ(rig.m.get_FilterIP(), "10.0.0.1,10.0.0.2");
  EXPECT_FALSE(rig.m.isBound());

  rig.m.refusedFilters.clear();
  rig.Forget();
  ASSERT_TRUE(rig.m.StartCapture());
  rig.m.FilterAllIP();
  EXPECT_EQ(rig.m.get_FilterIP(), "");
  EXPECT_EQ(rig.m.Calls(), (std::vector<std::string>{"Bind eth0", "Filter 10.0.0.1,10.0.0.2", "Filter "}));
}

// --- error channel ------------------------------------------------------------------------

TEST(ErrorChannel, TrimmedAndEndedWithOneFullStop) {
  const std::pair<std::string, std::string> table[] = {
      {"abc", "TKelNetMonitor Error: abc."},
      {"abc  \r\n", "TKelNetMonitor Error: abc."},
      {"\t\n abc", "TKelNetMonitor Error: abc."},
      {"a b\tc", "TKelNetMonitor Error: a b\tc."},
      {"", "TKelNetMonitor Error: ."},
      {" \x01\x1f ", "TKelNetMonitor Error: ."},
      {"caf\xc3\xa9", "TKelNetMonitor Error: caf\xc3\xa9."},  // bytes above 127 are visible
      {"\xa0x\xa0", "TKelNetMonitor Error: \xa0x\xa0."},
      {"ends with a stop.", "TKelNetMonitor Error: ends with a stop.."},
  };
  for (const auto& [text, line] : table) {
    Rig rig;
    rig.m.DNetError(text);
    EXPECT_EQ(rig.lines, Lines{line}) << "'" << text << "'";
    EXPECT_EQ(rig.m.errorCount(), 0);
    EXPECT_EQ(rig.m.errorText(), "");
  }
}

// Shows each error box that opens, records it and presses OK.
struct BoxWatcher {
  struct Seen {
    QString title, text;
    QMessageBox::Icon icon;
    int buttons;
  };
  std::vector<Seen> seen;
  QTimer timer;
  BoxWatcher() {
    QObject::connect(&timer, &QTimer::timeout, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      seen.push_back({box->windowTitle(), box->text(), box->icon(), static_cast<int>(box->buttons().size())});
      if (QAbstractButton* ok = box->button(QMessageBox::Ok)) ok->click();
    });
    timer.start(10);
  }
};

TEST(ErrorChannel, MessageBoxOnlyWhenAsked) {
  for (bool show : {false, true}) {
    SCOPED_TRACE(show ? "boxes on" : "boxes off");
    BoxWatcher watcher;
    Rig rig;
    rig.m.setShowErrMsgBox(show);
    rig.m.DNetError("Failed to bind adapter x ");
    EXPECT_EQ(rig.lines, Lines{"TKelNetMonitor Error: Failed to bind adapter x."});
    if (!show) {
      EXPECT_TRUE(watcher.seen.empty());
      continue;
    }
    ASSERT_EQ(watcher.seen.size(), 1u);
    EXPECT_EQ(watcher.seen[0].title, QApplication::applicationName());
    EXPECT_EQ(watcher.seen[0].text, "TKelNetMonitor Error: Failed to bind adapter x.");
    EXPECT_EQ(watcher.seen[0].icon, QMessageBox::NoIcon);
    EXPECT_EQ(watcher.seen[0].buttons, 1);
  }
}

TEST(ErrorChannel, StatusBarAndHandlerBothReceiveLines) {
  QStatusBar bar;
  Lines lines;
  FakeDriver m;
  m.setStatusBar(&bar);
  m.Initialize();  // with a bar attached: announces itself (and unassigns handlers)
  EXPECT_EQ(bar.currentMessage(), "Initializing Network Monitoring System.");
  m.setOnStatusMessage([&](TKelNetMonitor* sender, const std::string& l) {
    EXPECT_EQ(sender, &m);
    lines.push_back(l);
  });
  m.DNetError("x");
  EXPECT_EQ(bar.currentMessage(), "TKelNetMonitor Error: x.");
  EXPECT_EQ(lines, Lines{"TKelNetMonitor Error: x."});
  m.StopCallbackEvents();
  m.DNetError("y");
  EXPECT_EQ(bar.currentMessage(), "TKelNetMonitor Error: y.");
  EXPECT_EQ(lines.size(), 1u);
  m.setStatusBar(nullptr);
}

// --- combo box and guarded controls -----------------------------------------------------------

QStringList Items(const QComboBox& box) {
  QStringList items;
  for (int i = 0; i < box.count(); ++i) items << box.itemText(i);
  return items;
}

TEST(ComboBox, FillingTable) {
  struct Case {
    std::vector<FakeDriver::Adapter> adapters;
    bool emptyFirst;
    QStringList items;
    std::string line;
  };
  const Case cases[] = {
      {{{"eth0", "Ethernet 0"}, {"eth1", "Ethernet 1"}},
       false,
       {"Ethernet 0", "Ethernet 1"},
       "2 Network adapter(s) found."},
      {{{"eth0", "Ethernet 0"}, {"eth1", "Ethernet 1"}},
       true,
       {"", "Ethernet 0", "Ethernet 1"},
       "2 Network adapter(s) found."},
      {{}, false, {}, "No network adapters found."},
      {{}, true, {""}, "No network adapters found."},
  };
  for (const Case& c : cases) {
    Rig rig;
    rig.m.adapters = c.adapters;
    if (!c.adapters.empty()) {
      ASSERT_TRUE(rig.m.Open());
    }
    QComboBox box;
    box.addItem("stale");
    rig.lines.clear();
    rig.m.FillAdapterComboBox(&box, c.emptyFirst);
    EXPECT_EQ(Items(box), c.items);
    EXPECT_EQ(rig.lines, Lines{c.line});
    // Filling sets no selection: the host chooses what the box shows.
    EXPECT_EQ(box.currentIndex(), -1);
  }
}

TEST(ComboBox, TypingIntoTheEditableBoxSelectsByText) {
  Rig rig;
  QComboBox box;
  box.setEditable(true);
  rig.m.setAdapterComboBox(&box);
  ASSERT_TRUE(rig.m.Open());
  EXPECT_EQ(box.currentIndex(), -1);
  EXPECT_EQ(box.currentText(), "");
  rig.Forget();
  box.setEditText("Ethernet 0");  // text set in code selects nothing
  EXPECT_TRUE(rig.lines.empty());
  box.setEditText("");
  // The user types a description, one key at a time: each keystroke is a change.
  for (const char c : std::string("Ethernet 1")) {
    QKeyEvent key(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(QChar::fromLatin1(c)));
    QCoreApplication::sendEvent(box.lineEdit(), &key);
  }
  EXPECT_EQ(box.currentText(), "Ethernet 1");
  ASSERT_FALSE(rig.lines.empty());
  EXPECT_EQ(rig.lines.front(), "Invalid Network adapter specified.");
  EXPECT_EQ(rig.lines.back(), Selected("eth1"));
  EXPECT_EQ(rig.m.selectedAdapter(), 1);
}

TEST(ComboBox, OpenFillsTheAttachedBoxAndTheUsersChoiceSelects) {
  Rig rig;
  QComboBox box;
  rig.m.setAdapterComboBox(&box);
  ASSERT_TRUE(rig.m.Open());
  ASSERT_TRUE(rig.m.Open());  // reopening must not connect the box twice
  EXPECT_EQ(Items(box), (QStringList{"Ethernet 0", "Ethernet 1"}));
  EXPECT_EQ(rig.lines.back(), "2 Network adapter(s) found.");
  rig.Forget();
  box.setCurrentIndex(1);  // set in code: selects nothing
  EXPECT_TRUE(rig.lines.empty());
  emit box.activated(1);  // the user's choice
  EXPECT_EQ(rig.lines, Lines{Selected("eth1")});
  EXPECT_EQ(rig.m.selectedAdapter(), 1);
  // A sender that is not a combo box is ignored.
  QObject notABox;
  rig.m.AdapterComboBoxChanges(&notABox);
  EXPECT_EQ(rig.lines.size(), 1u);
}

TEST(GuardedControls, DestroyedControlsAreNoLongerUsed) {
  Rig rig;
  auto bar = std::make_unique<QStatusBar>();
  auto box = std::make_unique<QComboBox>();
  rig.m.setStatusBar(bar.get());
  rig.m.setAdapterComboBox(box.get());
  ASSERT_TRUE(rig.m.Open());
  bar.reset();
  box.reset();
  EXPECT_EQ(rig.m.statusBar(), nullptr);
  EXPECT_EQ(rig.m.adapterComboBox(), nullptr);
  rig.Forget();
  // Everything that would write to them goes on working.
  ASSERT_TRUE(rig.m.Open());
  ASSERT_TRUE(rig.m.SelectAdapter(0));
  ASSERT_TRUE(rig.m.StartCapture());
  uint8_t b[2] = {1, 2};
  rig.m.HandlePacket(new TKelNetPacket(b, 2, 0, true));
  rig.m.NotifyThreadStart(1);
  rig.m.ScriptFrames(3, 10);
  rig.m.DNetError("late");
  EXPECT_TRUE(PumpUntil([&] { return rig.m.receivedCount() == 4; }));
  EXPECT_TRUE(rig.m.Close());
  EXPECT_EQ(rig.lines.back(), kClosed);
}

TEST(Published, PropertiesAndAboutText) {
  FakeDriver m;
  EXPECT_EQ(m.property("About").toString(), "TKelNetMonitor v1.1");
  m.setProperty("About", "anything else");
  EXPECT_EQ(m.GetTKelNetMonitorVersion(), "TKelNetMonitor v1.1");
  QStatusBar bar;
  EXPECT_TRUE(m.setProperty("StatusBar", QVariant::fromValue(&bar)));
  EXPECT_EQ(m.statusBar(), &bar);
  EXPECT_TRUE(m.setProperty("ShowErrMsgBox", true));
  EXPECT_TRUE(m.showErrMsgBox());
  TKelNetMonitor plain;
  EXPECT_TRUE(plain.showErrMsgBox());
  EXPECT_EQ(plain.get_DriverName(), "abstract");
  EXPECT_EQ(plain.get_driverp(), nullptr);
  EXPECT_FALSE(plain.SendPacket(nullptr));
  plain.setShowErrMsgBox(false);
  EXPECT_FALSE(plain.Open());  // the abstract driver cannot open
}

TEST(Published, DesignModeInitialisesNothing) {
  TKelNetMonitor designed(nullptr, true);
  EXPECT_EQ(designed.selectedAdapter(), -1);
  EXPECT_FALSE(designed.isOpened());
  designed.setOnNewPacket([](TKelNetMonitor*) {});
  // Nothing runs at destruction either: no thread, no close line.
}

}  // namespace
