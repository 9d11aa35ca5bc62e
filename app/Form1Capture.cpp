// Start, Pause and Stop: the capture state machine.
//
//   state      | Start                              | Pause  | Stop
//   idle       | first start, then capturing        | -      | -
//   capturing  | -                                  | paused | stopped
//   paused     | StartCapture, then capturing       | -      | -
//   stopped    | Clear, StartCapture, then capturing| -      | -
//
// Opening a file leaves the window stopped from any state but capturing; from
// idle the next Start clears the list and is still the first start (the
// worker does not run yet).
//
// No button waits for a capture to start: the bind runs on the component's
// worker (StartCaptureAsync), which for another host's adapter first
// connects to it, up to ssh's connect timeout. Meanwhile the window takes
// input as ever, the title says whom it connects to (moving no control), and
// Pause or Stop gives the connect up at once. What fails is reported by the
// component.
#include <QComboBox>
#include <QLabel>
#include <QSignalBlocker>
#include <QTimer>

#include "app/Form1.h"
#include "app/window_title.h"
#include "capture/KelNetMonitor.h"
#include "capture/capture_settings.h"
#include "capture/remote_name.h"

void TForm1::EnterState(CaptureState state) {
  switch (state) {
    case CaptureState::Idle:
    case CaptureState::Capturing:
      SetStatus("Captured packets : ");
      break;
    case CaptureState::Paused:
      SetStatus("Paused ");
      break;
    case CaptureState::Stopped:
      SetStatus("Stopped : ");
      break;
  }
  FState = state;
}

void TForm1::StartClick() {
  // Read first: the Open below refills the box and loses what it shows.
  const std::string shown = CardBox->currentText().toStdString();
  if (FState == CaptureState::Capturing) return;
  const bool first = !NetMonitor->threadRunning();
  // What the box shows is what is captured: a text that names no adapter
  // (typed in, or none at all) starts nothing, and the box stays open to
  // choose one.
  if (first && NetMonitor->get_adapternum(shown) < 0) {
    NetMonitor->DNetError(shown.empty() ? "No network adapter chosen" : "No network adapter named " + shown);
    return;
  }
  EndFileJob();
  if (FState == CaptureState::Stopped && !MayDiscardFrames()) return;
  if (FState == CaptureState::Stopped) ClearPackets();
  FTakeLive.store(true);
  if (first) {
    // The first start (a file opened before it leaves the window stopped,
    // but the worker does not run yet). Opening lists the adapters again,
    // without a capture right or a connection, so it does not wait.
    NetMonitor->Open();
    const int p = NetMonitor->get_adapternum(shown);
    NetMonitor->SelectAdapter(p);
    NetMonitor->NotifyThreadStart(netvane::capture_settings::kPollPauseMs);
    NetMonitor->StartCaptureAsync();
    {
      // Shows the adapter again without the component's change handler.
      const QSignalBlocker block(CardBox);
      CardBox->setCurrentIndex(p);
    }
    // The adapter cannot be changed after the first start.
    CardBox->setEnabled(false);
  } else {
    NetMonitor->StartCaptureAsync();
  }
  EnterState(CaptureState::Capturing);
  ShowConnecting();
}

void TForm1::ShowConnecting() {
  const std::string name = NetMonitor->adapterName(NetMonitor->selectedAdapter());
  netvane::RemoteTarget remote;
  std::string ignored;
  if (!netvane::IsRemoteName(name) || !netvane::ParseRemoteAdapter(name, remote, ignored)) return;
  if (FConnecting == nullptr) {
    FConnecting = new QTimer(this);
    FConnecting->setInterval(100);
    connect(FConnecting, &QTimer::timeout, this, [this] {
      if (NetMonitor->isStarting()) return;
      FConnecting->stop();
      FConnectingTo.clear();
      netvane::ShowWindowTitle(this);
    });
  }
  FConnectingTo = QString::fromStdString(remote.HostText());
  netvane::ShowWindowTitle(this);
  FConnecting->start();
}

void TForm1::PauseClick() {
  if (FState != CaptureState::Capturing) return;
  EnterState(CaptureState::Paused);
  // Gives up a bind still under way (a connect) and unbinds.
  NetMonitor->PauseCapture();
}

void TForm1::StopClick() {
  if (FState != CaptureState::Capturing) return;
  EnterState(CaptureState::Stopped);
  // The same unbinding as Pause; only the state differs, which makes the
  // next Start clear the lists.
  NetMonitor->PauseCapture();
}

void TForm1::EnterStoppedState() {
  EnterState(CaptureState::Stopped);
}
