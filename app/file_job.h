#pragma once
// A long file operation of the main window (opening or saving a capture) run
// on the UI thread a slice of a few milliseconds at a time, from a zero-time
// timer: between slices the event loop paints, takes input and lists frames,
// so the window never freezes. When the operation takes more than a moment its
// progress dialog (progress_dialog.h) shows how far it is.
//
// Slices run from the event loop, never from inside a component operation
// (which serves only posted events while it waits), and no lock is held
// between two slices.

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <optional>

#include "app/progress_dialog.h"

class QWidget;

class TFileJob : public QObject {
  Q_OBJECT
 public:
  // `label`: what the progress dialog says it does.
  TFileJob(QWidget* window, QString label);
  ~TFileJob() override;

  // The first slice runs from the event loop.
  void Begin();
  // Runs what is left at once, without returning to the event loop.
  void RunToEnd();
  // Ends the operation now (Cancelled()); finished() follows.
  void Cancel();
  bool running() const { return running_; }
  bool cancelled() const { return cancelled_; }

  // How long one slice works before it returns to the event loop.
  static constexpr std::chrono::milliseconds kSlice{8};

 signals:
  // Emitted once, when the operation is over (done, failed or cancelled).
  void finished();

 protected:
  // Works until `until` or the end; true when the operation is over.
  virtual bool Slice(std::chrono::steady_clock::time_point until) = 0;
  // From 0 to 1.
  virtual double Progress() const = 0;
  // The operation ends before its end: undo what must not stay.
  virtual void Cancelled() {}

 private:
  void Step();
  void Finish();

  QWidget* window_;
  QString label_;
  QTimer timer_;
  std::optional<TProgressDialog> progress_;  // from Begin on
  bool running_ = false;
  bool cancelled_ = false;
};
