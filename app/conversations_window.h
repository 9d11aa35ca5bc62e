#pragma once
// "Conversations": who talks to whom in the listed frames, one tab for each of
// Ethernet, IPv4, IPv6, TCP and UDP (TCP and UDP over either IP), with the
// columns Address A, Port A, Address B, Port B, Frames, Bytes, the four
// per-direction counts, Rel start, Duration and the two rates. A is the source
// of a conversation's first frame; Bytes count each frame's length on the
// wire. Any column sorts (numbers as numbers); unsorted, the rows are in order
// of their first frame, so TCP row k is stream k.
//
// The table is counted on a thread (conversations_job.h) in one pass over the
// file or the spool, and then follows a capture or a load, feeding only the
// frames added since: the rows follow within about a second. "Limit to
// display filter" counts only the frames the display filter shows; changing
// it, or the display filter while it is set, counts again from the start. So
// does a clear of the list (a Start after Stop, another file).
//
// A row's context menu: "Filter on this conversation" (Ctrl+Return) applies
// the pcap-filter expression of the row as the display filter; "Follow
// stream" (Ctrl+Alt+Shift+T) on TCP rows opens Follow TCP stream.
//
// Threads: UI only, but for its job's walk. The window watches the packet
// list's model: it ends the walk before the model's frames change (a clear,
// another file, a filter) and decides afterwards whether to take it up again.

#include <QWidget>

#include <cstdint>
#include <memory>

#include "app/conversations_job.h"

class QCheckBox;
class QLabel;
class QSortFilterProxyModel;
class QTabWidget;
class QTableView;
class TConversationModel;
class TForm1;

namespace netvane {
class FrameFilter;
}

class TConversationsWindow : public QWidget {
  Q_OBJECT
 public:
  explicit TConversationsWindow(TForm1* window);
  ~TConversationsWindow() override;

  QTabWidget* Tabs = nullptr;
  QCheckBox* LimitToFilter = nullptr;
  QLabel* Status = nullptr;

  // --- for tests ---------------------------------------------------------------------
  // The walk has reached every listed frame and the rows show it.
  bool caughtUp() const;
  int RowCount(netvane::ConversationKind kind) const;
  QTableView* view(netvane::ConversationKind kind) const;
  // The rows the sorted view shows, by view row; null past the end.
  const netvane::Conversation* RowAt(netvane::ConversationKind kind, int viewRow) const;

  // The actions of the current row.
  void FilterOnConversation();
  void FollowStream();

 private:
  void Restart();
  void Resume();
  void StopWalk();
  void Updated();
  void LookForFrames();
  void ListAboutToChange();
  void ListChanged();
  void ShowTitle();
  // The current tab's current row, as an index into its rows; -1 when none.
  int CurrentRow(netvane::ConversationKind& kind) const;

  TForm1* FWindow;
  std::unique_ptr<netvane::ConversationTable> FTable;
  std::shared_ptr<const netvane::FrameFilter> FFilter;  // what the table counts, when limited
  std::unique_ptr<TConversationsJob> FJob;
  TConversationRows FRows;
  uint32_t FWalked = 0;  // the table holds the frames up to this one
  TConversationModel* FModels[netvane::kConversationKinds] = {};
  QSortFilterProxyModel* FSorted[netvane::kConversationKinds] = {};
  QTableView* FViews[netvane::kConversationKinds] = {};
};
