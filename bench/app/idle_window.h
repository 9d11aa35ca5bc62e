#pragma once
// What the window benchmarks that open files share: a capture component with
// one adapter and nothing to capture (the window's start-up needs one; opening
// a file does not use it), and an event loop run until something is done.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include "capture/KelNetMonitor.h"

namespace benchwindow {

class IdleMonitor : public TKelNetMonitor {
 public:
  explicit IdleMonitor(QObject* owner) : TKelNetMonitor(owner) { setShowErrMsgBox(false); }
  ~IdleMonitor() override { DeInitialize(); }

 protected:
  bool Driver_Open() override { return true; }
  bool Driver_Close() override { return true; }
  void Driver_RetrieveAdapterList() override { AddAdapter("idle0", "idle0"); }
};

// Serves the event loop until `done()`, or five minutes at most.
template <typename Done>
void Pump(Done done) {
  QElapsedTimer limit;
  limit.start();
  while (!done() && limit.elapsed() < 300000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

}  // namespace benchwindow
