#pragma once
// The thread that counts the conversations of the listed frames: one pass over
// the frame list into a ConversationTable, then it follows the list as a
// capture or a load adds frames, feeding only the new ones. It never ends on
// its own; the window destroys it.
//
// The table is the window's: the job adds to it while it runs, and the window
// touches it only after destroying the job (which joins the thread), so a
// paused job can be taken up again from where it stopped with the same table.
//
// Rows go to the UI thread as copies, at most about twice a second and once
// the walk has caught up, each with the number of the last frame walked.
//
// Threads. The walk reads the frame list (ForEachRecord may run while another
// thread appends), the filter (read-only once compiled) and its stop flag;
// `FLock` guards the copy it hands over. Whoever clears the frame list or lets
// another file take its place destroys the job first.

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "decode/conversation_table.h"

namespace netvane {
class FrameFilter;
class FrameList;
}  // namespace netvane

// What the window shows of a table: its rows of every kind and the start of
// the capture, up to frame `walked`.
struct TConversationRows {
  std::vector<netvane::Conversation> rows[netvane::kConversationKinds];
  int64_t startMicros = 0;
  uint32_t walked = 0;
};

class TConversationsJob : public QObject {
  Q_OBJECT
 public:
  // Walks frames from `first` on into `table`, counting only those `filter`
  // takes (all when it is null).
  TConversationsJob(const netvane::FrameList& frames, netvane::ConversationTable& table,
                    std::shared_ptr<const netvane::FrameFilter> filter, uint32_t first);
  ~TConversationsJob() override;

  // Moves the latest copy into `rows`; false when none came since the last call.
  bool Take(TConversationRows& rows);
  // The last frame walked (any thread).
  uint32_t walked() const { return FWalked.load(); }

  // How often at most a copy goes to the UI while frames come.
  static constexpr int kHandOverMs = 500;
  // How long the walk waits between looks at the list.
  static constexpr int kLookMs = 200;

 signals:
  // A copy waits for Take; at most one is queued until Take.
  void updated();

 private:
  void Walk();
  void HandOver(uint32_t walked);

  const netvane::FrameList& FFrames;
  netvane::ConversationTable& FTable;
  const std::shared_ptr<const netvane::FrameFilter> FFilter;
  const uint32_t FFirst;
  std::atomic<bool> FStop{false};
  std::atomic<bool> FPosted{false};
  std::atomic<uint32_t> FWalked{0};
  std::mutex FLock;  // guards FCopy, FFresh
  std::condition_variable FWakeUp;
  TConversationRows FCopy;
  bool FFresh = false;
  std::thread FThread;  // last: started once everything above exists
};
