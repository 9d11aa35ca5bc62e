#pragma once
// The display filter of the packet list: only the frames that match an
// expression of libpcap's filter language (pcap-filter(7), as tcpdump takes
// it) are listed, each under the number it has without the filter.
//
// From the list's context menu and shortcuts that work anywhere in the window:
//   "Filter..." (Ctrl+L)             asks for the expression, in a box that
//                                    remembers the last 20 (in the settings);
//                                    an empty one clears the filter;
//   "Clear filter" (Ctrl+Shift+L)    lists every frame again.
// The protocol tree's field lines offer "Filter on this value" where the
// field has a primitive of the language (filter_primitive.h).
//
// A bad expression is said with libpcap's own message over the dialog, which
// stays open, and nothing changes. A good one is run over the listed frames on
// a thread of its own (filter_job.h), which then follows the list while a
// capture or a file's load adds frames; the first matching rows show at once.
// When the frames listed at the moment of applying take more than a moment,
// a progress dialog shows how far it is; its Cancel clears the filter.
// While a filter is on, the window title names it with "N of M frames";
// nothing of the layout moves. The filter stays on when the list is cleared
// (a Start after Stop, another file) and applies to what comes next.
//
// Go to, Find, F3 and "Save capture as..." work on the shown frames: they ask
// for filter() and covered() (packet_list_model.h).

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <vector>

#include "app/progress_dialog.h"
#include "app/shown_frames.h"

class QAction;
class TFilterDialog;
class TFilterJob;
class TForm1;

namespace netvane {
class FrameFilter;
}

class TDisplayFilter : public QObject {
  Q_OBJECT
 public:
  // Adds the actions to the window and the list's context menu, and takes
  // the tree's "Filter on this value".
  explicit TDisplayFilter(TForm1* window);
  ~TDisplayFilter() override;

  QAction* FilterAction = nullptr;       // "Filter...", Ctrl+L
  QAction* ClearFilterAction = nullptr;  // "Clear filter", Ctrl+Shift+L

  // The dialog: Return applies; a bad expression is said and the dialog stays.
  void FilterClick();
  // Compiles and applies `expression`; empty clears the filter. False, with
  // libpcap's message in `error` and nothing changed, when it does not compile.
  bool Apply(const QString& expression, QString& error);
  // Lists every frame again, keeping the selected one selected.
  void Clear();

  // The filter on, or null.
  std::shared_ptr<const netvane::FrameFilter> filter() const { return FFilter; }
  QString expression() const { return FExpression; }

  // The window listed frames; `count` are stored. Wakes the walk, and starts
  // it again after a clear. True when the count changed.
  bool FramesListed(uint32_t count);
  // Before the frame list is cleared or takes another file: the walk ends
  // (the shown frames go with the list's own Clear).
  void ListCleared();

  // --- for tests and benchmarks ----------------------------------------------
  // The walk has reached the frames listed when the filter was applied.
  bool caughtUp() const { return FFilter == nullptr || FChecked >= FTarget; }
  uint32_t checked() const { return FChecked; }
  const TShownFrames& shown() const { return FShown; }
  TFilterDialog* dialog() const { return FDialog; }
  // The remembered expressions, newest first.
  static QStringList History();
  // What the window title says of the filter; empty when none is on.
  QString TitlePart() const;

 private:
  // Applies an expression made from a tree line; says when it fails.
  void ApplyFromTree(const QString& expression);
  void StartWalk(uint32_t first);
  void StopWalk();
  // A batch from the walk.
  void Checked();
  void ShowState();
  void TickProgress();
  void CloseProgress();

  TForm1* FWindow;
  std::shared_ptr<const netvane::FrameFilter> FFilter;
  QString FExpression;
  TShownFrames FShown;
  std::unique_ptr<TFilterJob> FJob;
  std::vector<uint32_t> FBatch;  // reused for each hand-over
  uint32_t FCount = 0;           // frames stored at the last listing
  uint32_t FChecked = 0;         // the walk has decided on frames up to this one
  uint32_t FTarget = 0;          // frames listed when the filter was applied
  uint32_t FReselect = 0;        // selected before; selected again once it shows
  QTimer FProgressTimer;
  std::unique_ptr<TProgressDialog> FProgress;  // from Apply until the walk has caught up
  TFilterDialog* FDialog = nullptr;
};
