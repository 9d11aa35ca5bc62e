// The worker and its work queue: the thread that polls the driver, the work
// other threads hand to it (OnDriverThread) and how they wait for it, and
// starting and ending the worker.
#include "capture/KelNetMonitor.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <exception>

namespace {

// How long a call that needs the driver's answer waits for the worker to take
// its work; the helper's own answer is limited to as long again.
constexpr auto kTakeLimit = std::chrono::seconds(1);

}  // namespace

struct TKelNetMonitor::Job {
  enum class State { Queued, Running, Done };
  explicit Job(std::function<void()> w) : work(std::move(w)) {}
  std::function<void()> work;
  // Guarded by FJobLock.
  State state = State::Queued;
  bool attended = true;      // the caller still waits for it
  bool wakeServing = false;  // the caller serves the UI thread's events: post it a wake-up when done
  std::exception_ptr error;  // what `work` threw; written before Done
};

// --- work on the driver's thread ---------------------------------------------------

bool TKelNetMonitor::OnWorker() const {
  const TKelNetMonitorThread* self = TKelNetMonitorThread::Current();
  return self != nullptr && self->Monitor() == this;
}

bool TKelNetMonitor::OnDriverThread(std::function<void()> work, Wait wait) {
  if (OnWorker()) {
    work();
    return true;
  }
  auto job = std::make_shared<Job>(std::move(work));
  job->attended = wait != Wait::Never;  // before it is shared
  bool queued = false;
  {
    std::lock_guard<std::mutex> lock(FJobLock);
    if (FWorkerTakesJobs) {
      FJobs.push_back(job);
      FJobsPending.store(true);
      queued = true;
    }
  }
  if (queued) {
    FJobWake.notify_all();  // ends the worker's pause
    Driver_WakeUp();        // ends its read
    if (wait == Wait::Never) return false;
  }
  EnterCall();
  bool ran = true;
  try {
    if (!queued)
      job->work();  // no worker runs: here
    else if ((ran = WaitForJob(job, wait)) && job->error)
      std::rethrow_exception(job->error);
  } catch (...) {
    LeaveCall(false);
    throw;
  }
  LeaveCall(true);
  return ran;
}

bool TKelNetMonitor::WaitForJob(const std::shared_ptr<Job>& job, Wait wait) {
  const auto takeBy = std::chrono::steady_clock::now() + kTakeLimit;
  const bool serve = ServesUi();
  std::unique_lock<std::mutex> lock(FJobLock);
  ++FHandlerWatchers;
  struct Unwatch {
    std::atomic<int>& n;
    ~Unwatch() { --n; }
  } unwatch{FHandlerWatchers};
  for (;;) {
    if (job->state == Job::State::Done) return true;
    const bool queued = job->state == Job::State::Queued;
    const bool inHandler = FInHandler.load();
    if (queued && inHandler && wait == Wait::UnlessHandler) {
      job->attended = false;
      return false;
    }
    if (queued && std::chrono::steady_clock::now() >= takeBy) {
      for (auto it = FJobs.begin(); it != FJobs.end(); ++it) {
        if (*it != job) continue;
        FJobs.erase(it);
        break;
      }
      FJobsPending.store(!FJobs.empty());
      lock.unlock();
      DNetError("The capture thread did not take the request within 1 s");
      return false;
    }
    if (inHandler && serve) {
      // The host's handler may be waiting for this thread: serve what it may
      // wait for until the worker is done with the work or the time is up.
      job->wakeServing = true;
      lock.unlock();
      QTimer deadline;
      deadline.setSingleShot(true);
      if (queued)
        deadline.start(
            std::chrono::ceil<std::chrono::milliseconds>(takeBy - std::chrono::steady_clock::now()));
      QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents);
      lock.lock();
      continue;
    }
    // The worker runs our own code, which never waits for this thread: it
    // takes the work within one read, or enters the handler (and says so).
    if (queued)
      FJobWake.wait_until(lock, takeBy);
    else
      FJobWake.wait(lock);
  }
}

void TKelNetMonitor::RunJob(const std::shared_ptr<Job>& job) {
  try {
    job->work();
  } catch (...) {
    job->error = std::current_exception();
  }
  job->work = nullptr;  // what it holds goes here, not on the caller's thread
  bool wake;
  bool unattendedError;
  {
    std::lock_guard<std::mutex> lock(FJobLock);
    job->state = Job::State::Done;
    wake = job->wakeServing;
    unattendedError = job->error && !job->attended;
  }
  FJobWake.notify_all();
  if (wake) PostToUi([] {});
  if (unattendedError) {
    try {
      std::rethrow_exception(job->error);
    } catch (...) {
      ReportException("Capture driver failed");
    }
  }
}

bool TKelNetMonitor::RunJobs() {
  std::unique_lock<std::mutex> lock(FJobLock);
  while (!FJobs.empty()) {
    std::shared_ptr<Job> job = std::move(FJobs.front());
    FJobs.pop_front();
    FJobsPending.store(!FJobs.empty());
    job->state = Job::State::Running;
    lock.unlock();
    RunJob(job);
    lock.lock();
  }
  return !FEnding.load();
}

bool TKelNetMonitor::PauseFor(int interval) {
  if (interval == 0) {
    std::this_thread::yield();
    return !FEnding.load();
  }
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(interval);
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(FJobLock);
      if (!FJobWake.wait_until(lock, until, [this] { return FEnding.load() || !FJobs.empty(); })) return true;
    }
    if (!RunJobs()) return false;
  }
}

void TKelNetMonitor::WorkerBody(int interval) {
  while (RunJobs()) {
    // Whatever a turn throws (the driver's poll, or a host's code it reaches)
    // is reported like a failed poll, and the thread goes on polling.
    try {
      TakeTimeToProcess();
    } catch (...) {
      ReportException("Capture driver failed");
    }
    if (!RunJobs() || !PauseFor(interval)) break;
  }
  // Work queued until now is still done here; later work runs on its caller.
  std::unique_lock<std::mutex> lock(FJobLock);
  for (;;) {
    if (FJobs.empty()) break;
    lock.unlock();
    RunJobs();
    lock.lock();
  }
  FWorkerTakesJobs = false;
  FWorkerDone = true;
  lock.unlock();
  FJobWake.notify_all();
  PostToUi([] {});  // wakes a UI thread that serves events while it waits for the end
}

void TKelNetMonitor::EnterHandler() {
  FInHandler.store(true);
  if (FHandlerWatchers.load() > 0) {
    // Through the lock, so a caller between its look at FInHandler and its
    // wait cannot miss the news.
    { std::lock_guard<std::mutex> lock(FJobLock); }
    FJobWake.notify_all();
  }
}

void TKelNetMonitor::ReportException(const std::string& what) noexcept {
  try {
    std::string reason;
    try {
      throw;
    } catch (const std::exception& e) {
      reason = e.what();
    } catch (...) {
      reason = "an exception of unknown type";
    }
    DNetError(what + ": " + reason);
  } catch (...) {
    // Reporting failed too (no memory, or a User_Error that throws): the
    // exception is dropped rather than ending the thread.
  }
}

// --- starting and ending the worker -------------------------------------------------

void TKelNetMonitor::NotifyThreadStart(int interval) {
  // A worker that a handler's Close has ended is joined, then replaced.
  if (FThread != nullptr && FEnding.load()) NotifyThreadEnd();
  if (FThread != nullptr) return;
  {
    std::lock_guard<std::mutex> lock(FJobLock);
    FEnding.store(false);
    FWorkerDone = false;
    FWorkerTakesJobs = true;
  }
  FThread = std::make_unique<TKelNetMonitorThread>(this, interval);
}

void TKelNetMonitor::NotifyThreadEnd() {
  const bool self = OnWorker();
  if (!self && FThread == nullptr) return;
  {
    std::lock_guard<std::mutex> lock(FJobLock);
    FEnding.store(true);
  }
  FJobWake.notify_all();
  Driver_WakeUp();
  // From the worker's own turn (a handler that closes the component) it
  // cannot wait for itself: it ends after this turn, and the next
  // NotifyThreadStart or NotifyThreadEnd on the UI thread joins it.
  if (self) return;
  // A call served during the wait may end this worker itself (a host's
  // queued Close), and even start another: then this one is gone.
  const TKelNetMonitorThread* ending = FThread.get();
  EnterCall();
  try {
    WaitForWorker([this, ending] { return FThread.get() != ending || FWorkerDone; });
  } catch (...) {
    LeaveCall(false);  // a host's code served meanwhile threw
    throw;
  }
  LeaveCall(true);
  if (FThread.get() == ending) FThread.reset();
}

void TKelNetMonitor::WaitForWorker(const std::function<bool()>& done) {
  if (ServesUi()) {
    // The worker posts a wake-up when it ends.
    for (;;) {
      {
        std::lock_guard<std::mutex> lock(FJobLock);
        if (done()) return;
      }
      QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents);
    }
  }
  std::unique_lock<std::mutex> lock(FJobLock);
  FJobWake.wait(lock, done);
}

// --- the thread ---------------------------------------------------------------------

namespace {
thread_local TKelNetMonitorThread* tCurrent = nullptr;
}

TKelNetMonitorThread::TKelNetMonitorThread(TKelNetMonitor* monitor, int32_t interval)
    : FMonitor(monitor), FInterval(interval < 0 ? 0 : interval), FThread([this] {
        tCurrent = this;
        FMonitor->WorkerBody(FInterval);
      }) {}

TKelNetMonitorThread::~TKelNetMonitorThread() {
  if (FThread.joinable()) FThread.join();
}

TKelNetMonitorThread* TKelNetMonitorThread::Current() {
  return tCurrent;
}
