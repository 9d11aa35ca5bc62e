#pragma once
// Go to and find in the packet list. From the list's context menu and
// shortcuts that work anywhere in the main window:
//   "Go to packet..." (Ctrl+G)  selects frame N and scrolls to it;
//   "Find..." (Ctrl+F)          searches forward from the selected row for a hex
//                               byte string, a text or an address (frame_match.h);
//   F3 / Shift+F3               the last Find's pattern again, forward / backward.
// A search walks the listed frames on a thread of its own (find_job.h), from
// the row after the selected one to the last and then, with a note that it
// wrapped, from the first up to the selected one itself; backward the other way
// round. Nothing of the layout moves: the questions and messages are standard
// Qt dialogs, the wrap note a tool tip over the list.

#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <optional>

#include "decode/frame_match.h"

class QAction;
class QCheckBox;
class QComboBox;
class QDialog;
class QLineEdit;
class TFindJob;
class TForm1;

class TPacketFinder : public QObject {
  Q_OBJECT
 public:
  explicit TPacketFinder(TForm1* window);
  ~TPacketFinder() override;

  QAction* GoToPacketAction = nullptr;    // "Go to packet...", Ctrl+G
  QAction* FindAction = nullptr;          // "Find...", Ctrl+F
  QAction* FindNextAction = nullptr;      // F3
  QAction* FindPreviousAction = nullptr;  // Shift+F3

  // The dialogs; each says what is wrong with bad input and asks again.
  void GoToPacketClick();
  void FindClick();
  // The last Find's pattern from the selected row; with none yet, the Find dialog.
  void FindAgain(bool forward);

  // Selects listed frame `number` (its row's cell in the current column) and
  // scrolls it into view. False, changing nothing, when no such frame is listed.
  bool GoToPacket(uint32_t number);
  // Starts a search from the selected row, ending one under way first. False
  // (with a message) when nothing is listed.
  bool Find(const netvane::FrameMatcher& matcher, bool forward);

  // Ends a search under way and waits for its thread. Before the list is
  // cleared or replaced, and before the window goes.
  void End();

  // The search under way, if any.
  TFindJob* job() const;

 private:
  struct Outcome {
    uint32_t found;
    bool wrapped;
    bool cancelled;
    QString failure;
  };
  // `what`: the pattern as messages name it.
  void Finished(TFindJob* job, const QString& what, bool forward, const Outcome& outcome);
  // The number of the selected row's frame; 0 when none or the empty row.
  uint32_t SelectedFrame() const;
  void BuildFindDialog();
  // The matcher for what the Find dialog holds; nullopt after saying what is wrong.
  std::optional<netvane::FrameMatcher> FindDialogMatcher();

  TForm1* FWindow;
  QPointer<TFindJob> FJob;
  std::optional<netvane::FrameMatcher> FLast;  // the last Find's pattern
  QString FGoToText;                           // what the Go to dialog held last

  QDialog* FFindDialog = nullptr;
  QComboBox* FFindKind = nullptr;
  QLineEdit* FFindText = nullptr;
  QCheckBox* FIgnoreCase = nullptr;
};
