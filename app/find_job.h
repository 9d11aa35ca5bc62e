#pragma once
// One search of the listed frames, on a thread of its own so that the window
// paints, lists and takes input meanwhile. It walks one range of frame
// numbers and, when nothing matched there, a second one (the part after the
// wrap). A search that is not done after a moment shows its progress dialog
// (progress_dialog.h), whose Cancel stops it.
//
// Threads. The walk (thread_call.h) reads only the frame list (through
// ForEachFrame, which may run while another thread appends) and the job's own
// matcher, stop flag and counter. Its outcome comes back to the job on the UI
// thread; the job's destruction stops the walk and joins the thread, so
// nothing of the walk outlives the job. Whoever clears or replaces the frame
// list destroys (or Cancel()s and waits for) the job first.

#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "app/progress_dialog.h"
#include "app/thread_call.h"
#include "decode/frame_match.h"

class QWidget;

namespace netvane {
class FrameFilter;
class FrameList;
}  // namespace netvane

class TFindJob : public QObject {
  Q_OBJECT
 public:
  // Frame numbers from `first` to `last`, both included; backwards when
  // first > last. first == 0: no range.
  struct Range {
    uint32_t first = 0;
    uint32_t last = 0;
    uint64_t size() const;
  };

  // Starts the walk at once. `label`: what the progress dialog says it does.
  // With `shown`, only frames that display filter lets through are looked at.
  TFindJob(QWidget* window, QString label, const netvane::FrameList& frames, netvane::FrameMatcher matcher,
           Range main, Range wrapped, std::shared_ptr<const netvane::FrameFilter> shown = nullptr);
  // Stops the walk and waits for its thread; finished() is not emitted then.
  ~TFindJob() override;

  // Asks the walk to stop; finished() follows, as cancelled unless a match came first.
  void Cancel();
  // Frames looked at so far (any thread).
  uint64_t visited() const { return visited_.load(std::memory_order_relaxed); }

 signals:
  // Once, on the UI thread. found: the first matching frame's number, 0 for
  // none; wrapped: it was found in the second range; failure: why the walk
  // broke off (empty when it did not).
  void finished(uint32_t found, bool wrapped, bool cancelled, const QString& failure);

 private:
  void Walk();
  void Done();
  void ShowProgress();

  const netvane::FrameList& frames_;
  const netvane::FrameMatcher matcher_;
  const Range main_;
  const Range wrapped_;
  const std::shared_ptr<const netvane::FrameFilter> shown_;
  std::atomic<bool> stop_{false};
  std::atomic<uint64_t> visited_{0};  // written by the walk only
  // Written by the walk; read by the UI thread once it has been joined.
  uint32_t found_ = 0;
  bool foundWrapped_ = false;
  std::string failure_;
  QTimer progressTimer_;
  TProgressDialog progress_;
  TThreadCall walk_;  // last: started once everything above exists
};
