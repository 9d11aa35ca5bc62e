// Start, Pause and Stop: the capture state machine over three flags.
//
//   state      | Start                              | Pause  | Stop
//   idle       | first start, then capturing        | -      | -
//   capturing  | -                                  | paused | stopped
//   paused     | StartCapture, then capturing       | -      | -
//   stopped    | Clear, StartCapture, then capturing| -      | -
//
// Opening a file leaves the window stopped from any state but capturing; from
// idle the next Start clears the list and is still the first start.
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QSignalBlocker>

#include <optional>

#include "app/Form1.h"
#include "capture/KelNetMonitor.h"
#include "capture/capture_settings.h"
#include "capture/remote_name.h"

namespace {
constexpr const char* kCapturingText = "Captured packets : ";
constexpr const char* kPausedText = "Paused ";
constexpr const char* kStoppedText = "Stopped : ";

// A Start on a remote adapter first connects to its host, which can take up
// to ssh's connect timeout; input waits meanwhile, and the cursor says so.
class WaitCursor {
 public:
  WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};
}  // namespace

void TForm1::StartClick() {
  // Read first: the Open below refills the box and loses its selection.
  const int p = CardBox->currentIndex();
  if (FCapturing) return;
  EndFileJob();
  if (FStopped && !MayDiscardFrames()) return;
  if (FStopped) ClearPackets();
  FTakeLive.store(true);
  std::optional<WaitCursor> busy;
  if (netvane::IsRemoteName(NetMonitor->adapterName(FStarted ? NetMonitor->selectedAdapter() : p)))
    busy.emplace();
  if (FStarted) {
    NetMonitor->StartCapture();
  } else {
    // The first start (a file opened before it leaves the window stopped,
    // but the component is not open yet).
    NetMonitor->Open();
    NetMonitor->SelectAdapter(p);
    NetMonitor->StartCapture();
    NetMonitor->NotifyThreadStart(netvane::capture_settings::kPollPauseMs);
    {
      // Shows the adapter again without the component's change handler.
      const QSignalBlocker block(CardBox);
      CardBox->setCurrentIndex(p);
    }
    // The adapter cannot be changed after the first start.
    CardBox->setEnabled(false);
    FStarted = true;
  }
  SetStatus(kCapturingText);
  FPaused = false;
  FCapturing = true;
  FStopped = false;
}

void TForm1::PauseClick() {
  if (!FCapturing) return;
  SetStatus(kPausedText);
  NetMonitor->PauseCapture();
  FPaused = true;
  FCapturing = false;
  FStopped = false;
}

void TForm1::StopClick() {
  if (!FCapturing) return;
  SetStatus(kStoppedText);
  // The same unbinding as Pause; only the flag differs, which makes the next
  // Start clear the lists.
  NetMonitor->PauseCapture();
  FPaused = false;
  FCapturing = false;
  FStopped = true;
}

void TForm1::EnterStoppedState() {
  SetStatus(kStoppedText);
  FPaused = false;
  FCapturing = false;
  FStopped = true;
}
