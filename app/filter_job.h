#pragma once
// The thread of a display filter: it runs the compiled filter over the
// listed frames, from a given frame on, and then follows the list as it grows
// (a capture or a file's load adds frames), so the filter is always on the
// way to the newest frame. It never ends on its own; the window destroys it.
//
// Matches go to the UI thread in batches: the first as soon as there is one,
// then at most about 30 a second, each with the number of the last frame
// checked, so the first rows show at once and the UI is not flooded.
//
// Threads. The walk reads only the frame list (ForEachRecord may run while
// another thread appends), the filter (read-only once compiled) and its own
// stop flag; `FLock` guards what it hands over and the wake flag. Destroying
// the job stops the walk and joins the thread before anything of it goes.
// Whoever clears the frame list or lets another file take its place destroys
// the job first.

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace netvane {
class FrameFilter;
class FrameList;
}  // namespace netvane

class TFilterJob : public QObject {
  Q_OBJECT
 public:
  // Starts the walk at frame `first` at once.
  TFilterJob(const netvane::FrameList& frames, std::shared_ptr<const netvane::FrameFilter> filter,
             uint32_t first);
  ~TFilterJob() override;

  // Frames were added: the walk goes on at once rather than at its next look.
  void More();
  // Moves the matches handed over since the last call into `matches` (which
  // it empties first) and returns the number of the last frame checked.
  uint32_t Take(std::vector<uint32_t>& matches);

  // How long the walk waits between looks at the list when nobody wakes it.
  static constexpr int kLookMs = 100;

 signals:
  // Matches or progress wait for Take; at most one is queued until Take.
  void checked();

 private:
  void Walk();
  void HandOver(std::vector<uint32_t>& batch, uint32_t checkedUpTo);

  const netvane::FrameList& FFrames;
  const std::shared_ptr<const netvane::FrameFilter> FFilter;
  const uint32_t FFirst;
  std::atomic<bool> FStop{false};
  std::atomic<bool> FPosted{false};  // a checked() is queued and Take has not run since
  std::mutex FLock;                  // guards FMatches, FChecked, FWake
  std::condition_variable FWakeUp;
  std::vector<uint32_t> FMatches;
  uint32_t FChecked = 0;
  bool FWake = false;
  std::thread FThread;  // last: started once everything above exists
};
