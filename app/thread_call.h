#pragma once
// Work of the main window that runs on a thread of its own, so that the
// window paints and takes input meanwhile, and whose outcome is handed back
// to the UI thread: the work returns what is to run there, which is posted to
// a receiver object and runs after the thread has been joined.
//
// Threads. The work must not touch a widget; what it returns runs on the
// receiver's thread. An exception that escapes the work is rethrown there
// instead, where the application reports it. The call object belongs to the
// receiver (a member of it, or of an object that goes with it), so a posted
// outcome never outlives it; one that has not run when the receiver goes is
// dropped with it.

#include <QObject>

#include <functional>
#include <thread>

class TThreadCall {
 public:
  TThreadCall() = default;
  // Waits for the thread: whoever owns the work tells it to stop first.
  ~TThreadCall();
  TThreadCall(const TThreadCall&) = delete;
  TThreadCall& operator=(const TThreadCall&) = delete;

  using Outcome = std::function<void()>;
  // Runs `work` on a new thread. False, doing nothing, while an earlier call
  // has not been joined yet.
  bool Start(QObject* receiver, std::function<Outcome()> work);
  // From the start until the outcome runs (or the call is joined).
  bool running() const { return thread_.joinable(); }
  // Waits for the thread to end.
  void Join();

 private:
  std::thread thread_;
};
