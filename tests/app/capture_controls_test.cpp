// Start, Pause and Stop: every state against every button, the first start's
// adapter choice and what the adapter box does, and that no button waits for
// a capture to start.
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "tests/app/window_fixture.h"

namespace {

enum class State { Idle, Capturing, Paused, Stopped };
enum class Button { Start, Pause, Stop };

const char* Name(State s) {
  switch (s) {
    case State::Idle:
      return "idle";
    case State::Capturing:
      return "capturing";
    case State::Paused:
      return "paused";
    case State::Stopped:
      return "stopped";
  }
  return "?";
}
const char* Name(Button b) {
  return b == Button::Start ? "Start" : b == Button::Pause ? "Pause" : "Stop";
}

// As the user sees it: the Status text, and the adapter box, which can be
// used until the first Start only.
State StateOf(const TForm1& f) {
  const QString status = f.Status->text();
  if (status == kPausedStatus) return State::Paused;
  if (status == kStoppedStatus) return State::Stopped;
  EXPECT_EQ(status, kCapturingStatus);
  return f.CardBox->isEnabled() ? State::Idle : State::Capturing;
}

// Presses a button, and waits until the worker has done what it was handed.
void Press(TForm1& f, FakeMonitor& fake, Button b) {
  switch (b) {
    case Button::Start:
      f.Start->click();
      break;
    case Button::Pause:
      f.Pause->click();
      break;
    case Button::Stop:
      f.Stop->click();
      break;
  }
  fake.Settle();
}

bool Has(const std::vector<std::string>& calls, const std::string& prefix) {
  return std::any_of(calls.begin(), calls.end(),
                     [&](const std::string& c) { return c.rfind(prefix, 0) == 0; });
}

struct Transition {
  State from;
  Button press;
  State to;
  const char* status;  // nullptr: unchanged
  bool opens;          // the driver is opened again (first start)
  bool binds;          // an adapter is bound
  bool unbinds;        // the adapter is unbound
};

class CaptureControlsTest : public WindowTest {
 protected:
  void Reach(State s) {
    switch (s) {
      case State::Idle:
        break;
      case State::Capturing:
        Press(*form, *fake, Button::Start);
        break;
      case State::Paused:
        Press(*form, *fake, Button::Start), Press(*form, *fake, Button::Pause);
        break;
      case State::Stopped:
        Press(*form, *fake, Button::Start), Press(*form, *fake, Button::Stop);
        break;
    }
    ASSERT_EQ(StateOf(*form), s);
  }
};

TEST_F(CaptureControlsTest, TransitionTable) {
  const Transition table[] = {
      {State::Idle, Button::Start, State::Capturing, "Captured packets : ", true, true, false},
      {State::Idle, Button::Pause, State::Idle, nullptr, false, false, false},
      {State::Idle, Button::Stop, State::Idle, nullptr, false, false, false},
      {State::Capturing, Button::Start, State::Capturing, nullptr, false, false, false},
      {State::Capturing, Button::Pause, State::Paused, "Paused ", false, false, true},
      {State::Capturing, Button::Stop, State::Stopped, "Stopped : ", false, false, true},
      {State::Paused, Button::Start, State::Capturing, "Captured packets : ", false, true, false},
      {State::Paused, Button::Pause, State::Paused, nullptr, false, false, false},
      {State::Paused, Button::Stop, State::Paused, nullptr, false, false, false},
      {State::Stopped, Button::Start, State::Capturing, "Captured packets : ", false, true, false},
      {State::Stopped, Button::Pause, State::Stopped, nullptr, false, false, false},
      {State::Stopped, Button::Stop, State::Stopped, nullptr, false, false, false},
  };
  for (const Transition& t : table) {
    SCOPED_TRACE(std::string(Name(t.from)) + " + " + Name(t.press));
    Make();
    Reach(t.from);
    const QString before = form->Status->text();
    fake->ClearCalls();
    Press(*form, *fake, t.press);
    EXPECT_EQ(StateOf(*form), t.to);
    EXPECT_EQ(form->Status->text(), t.status ? QString::fromLatin1(t.status) : before);
    const auto calls = fake->Calls();
    EXPECT_EQ(Has(calls, "Driver_Open"), t.opens);
    EXPECT_EQ(Has(calls, "Driver_BindAdapter"), t.binds);
    EXPECT_EQ(Has(calls, "Driver_UnBindAdapter"), t.unbinds);
    if (!t.opens && !t.binds && !t.unbinds) {
      EXPECT_TRUE(calls.empty());
    }
    EXPECT_EQ(fake->isBound(), t.to == State::Capturing);
    // The worker thread exists from the first start on and is never ended by the buttons.
    EXPECT_EQ(fake->threadRunning(), t.to != State::Idle);
    // The adapter box can be used in the idle state only.
    EXPECT_EQ(form->CardBox->isEnabled(), t.to == State::Idle);
  }
}

TEST_F(CaptureControlsTest, FirstStartCapturesOnTheAdapterShownInTheBox) {
  struct Case {
    int position;
    const char* device;
  };
  for (const Case c : {Case{0, "eth0"}, Case{1, "eth1"}, Case{2, "eth2"}}) {
    SCOPED_TRACE(c.device);
    Make();
    form->CardBox->setCurrentIndex(c.position);
    Press(*form, *fake, Button::Start);
    EXPECT_EQ(fake->selectedAdapter(), c.position);
    EXPECT_EQ(fake->BoundDevice(), c.device);
    EXPECT_TRUE(fake->isBound());
    // The box shows the chosen adapter again, although the start refilled it.
    EXPECT_EQ(form->CardBox->currentIndex(), c.position);
    EXPECT_EQ(form->CardBox->count(), 3);
    EXPECT_FALSE(form->CardBox->isEnabled());
  }
}

TEST_F(CaptureControlsTest, CreationShowsTheFirstAdapterWithoutSelectingIt) {
  EXPECT_EQ(form->CardBox->count(), 3);
  EXPECT_EQ(form->CardBox->currentIndex(), 0);
  EXPECT_EQ(form->CardBox->itemText(0), "Adapter eth0");
  EXPECT_EQ(fake->selectedAdapter(), -1);
  EXPECT_TRUE(fake->isOpened());
}

// What the box shows is what is captured: a Start whose box names no
// adapter says so, captures nothing, and leaves the box to choose one, also
// after an adapter was picked before the text was typed.
TEST_F(CaptureControlsTest, FirstStartOnABoxThatNamesNoAdapterCapturesNothing) {
  const struct {
    const char* what;
    std::vector<std::string> adapters;
    std::function<void(QComboBox*)> choose;
    const char* error;
  } cases[] = {
      {"no entry",
       {"eth0", "eth1"},
       [](QComboBox* b) { b->setCurrentIndex(-1); },
       "No network adapter chosen"},
      {"typed over a picked one",
       {"eth0", "eth1"},
       [](QComboBox* b) {
         b->setCurrentIndex(1);
         emit b->activated(1);
         b->setEditText("nosuch0");
       },
       "No network adapter named nosuch0"},
      {"no adapters at all", {}, [](QComboBox*) {}, "No network adapter chosen"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Make(c.adapters);
    c.choose(form->CardBox);
    const QString shown = form->CardBox->currentText();
    fake->ClearCalls();
    Press(*form, *fake, Button::Start);
    EXPECT_EQ(StateOf(*form), State::Idle);
    ASSERT_FALSE(fake->Errors().empty());
    EXPECT_EQ(fake->Errors().back(), c.error);
    EXPECT_FALSE(Has(fake->Calls(), "Driver_BindAdapter"));
    EXPECT_FALSE(fake->threadRunning());
    EXPECT_TRUE(form->CardBox->isEnabled());
    EXPECT_EQ(form->CardBox->currentText(), shown);
    // Pause and Stop still do nothing.
    Press(*form, *fake, Button::Stop);
    EXPECT_EQ(StateOf(*form), State::Idle);
    if (c.adapters.empty()) continue;
    // Choosing an adapter then starts on it.
    form->CardBox->setCurrentIndex(0);
    Press(*form, *fake, Button::Start);
    EXPECT_EQ(StateOf(*form), State::Capturing);
    EXPECT_EQ(fake->BoundDevice(), "eth0");
  }
}

// No button waits for a capture to start: a bind that takes long (a connect
// to another host) runs on the worker, and Pause or Stop gives it up at
// once, quietly; Start again binds.
TEST_F(CaptureControlsTest, NoButtonWaitsForABindAndPauseOrStopGivesItUp) {
  for (const Button end : {Button::Pause, Button::Stop}) {
    SCOPED_TRACE(Name(end));
    Make();
    fake->bindDelayMs = 20000;
    QElapsedTimer took;
    took.start();
    form->Start->click();
    EXPECT_LT(took.elapsed(), 500);
    EXPECT_EQ(StateOf(*form), State::Capturing);
    ASSERT_TRUE(WaitFor([&] { return fake->InBind(); }));
    took.restart();
    Press(*form, *fake, end);
    EXPECT_LT(took.elapsed(), 1000);
    EXPECT_EQ(StateOf(*form), end == Button::Pause ? State::Paused : State::Stopped);
    EXPECT_TRUE(Has(fake->Calls(), "BindGivenUp"));
    EXPECT_FALSE(fake->isBound());
    EXPECT_TRUE(fake->Errors().empty());
    fake->bindDelayMs = 0;
    Press(*form, *fake, Button::Start);
    EXPECT_TRUE(fake->isBound());
  }
}

TEST_F(CaptureControlsTest, StatusLabelIsSizedToEachText) {
  Press(*form, *fake, Button::Start);
  Press(*form, *fake, Button::Stop);
  const int stopped = form->Status->width();
  Press(*form, *fake, Button::Start);
  const int capturing = form->Status->width();
  EXPECT_GE(stopped, QFontMetrics(form->Status->font()).horizontalAdvance("Stopped : "));
  EXPECT_GT(capturing, stopped);
}

}  // namespace
