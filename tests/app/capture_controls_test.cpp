// Start, Pause and Stop: every state against every button, the first start's
// adapter choice and what the adapter box does.
#include <QComboBox>
#include <QLabel>

#include <algorithm>

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

State StateOf(const TForm1& f) {
  const int set = int(f.capturing()) + int(f.paused()) + int(f.stopped());
  EXPECT_LE(set, 1) << "at most one flag may be set";
  if (f.capturing()) return State::Capturing;
  if (f.paused()) return State::Paused;
  if (f.stopped()) return State::Stopped;
  return State::Idle;
}

void Press(TForm1& f, Button b) {
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
        Press(*form, Button::Start);
        break;
      case State::Paused:
        Press(*form, Button::Start), Press(*form, Button::Pause);
        break;
      case State::Stopped:
        Press(*form, Button::Start), Press(*form, Button::Stop);
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
    Press(*form, t.press);
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
    Press(*form, Button::Start);
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

TEST_F(CaptureControlsTest, FirstStartWithoutSelectionStillEntersCapturing) {
  form->CardBox->setCurrentIndex(-1);
  Press(*form, Button::Start);
  EXPECT_EQ(StateOf(*form), State::Capturing);
  EXPECT_EQ(form->Status->text(), "Captured packets : ");
  EXPECT_FALSE(fake->isBound());  // the component rejected position -1 and reported it
  EXPECT_FALSE(fake->Errors().empty());
  EXPECT_EQ(form->CardBox->currentIndex(), -1);
  Press(*form, Button::Pause);
  EXPECT_EQ(StateOf(*form), State::Paused);
}

TEST_F(CaptureControlsTest, MachineWithoutAdaptersStaysUsable) {
  Make({});
  EXPECT_EQ(form->CardBox->count(), 0);
  EXPECT_EQ(form->CardBox->currentIndex(), -1);
  ASSERT_FALSE(fake->Errors().empty());
  EXPECT_EQ(fake->Errors().front(), "No network adapters found");
  Press(*form, Button::Start);
  EXPECT_EQ(StateOf(*form), State::Capturing);
  Press(*form, Button::Stop);
  EXPECT_EQ(StateOf(*form), State::Stopped);
  Press(*form, Button::Start);
  EXPECT_EQ(StateOf(*form), State::Capturing);
  EXPECT_EQ(GridRows(), 2);
}

TEST_F(CaptureControlsTest, StatusLabelIsSizedToEachText) {
  Press(*form, Button::Start);
  Press(*form, Button::Stop);
  const int stopped = form->Status->width();
  Press(*form, Button::Start);
  const int capturing = form->Status->width();
  EXPECT_GE(stopped, QFontMetrics(form->Status->font()).horizontalAdvance("Stopped : "));
  EXPECT_GT(capturing, stopped);
}

}  // namespace
