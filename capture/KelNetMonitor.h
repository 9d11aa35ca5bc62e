#pragma once
// The capture component: adapter table, capture lifecycle, packet FIFO, worker
// thread and the status / error channels. It never talks to a capture library
// itself; a driver subclass implements the Driver_ operations and TakeTimeToProcess.
//
// Threads. The host calls the component on its UI thread (the one that built
// it); the component's worker polls the driver and raises OnNewPacket, whose
// handler may call the component too. Only the UI thread may call Initialize,
// DeInitialize, Open, NotifyThreadStart, threadRunning, the combo-box
// operations and the control properties; a Close from the handler ends the
// worker after that turn, and the UI thread joins it later.
//
// 1. One thread works the driver. While a worker runs, every driver operation
//    and every change of the capture (open, bind, filter, unbind, drain,
//    close, send, counters) runs on the worker, between its reads: a call on
//    another thread is queued to it (the read is woken with Driver_WakeUp)
//    and waits for it. With no worker it runs on the calling thread. So a
//    driver takes no lock, and its connection to a capture helper has one owner.
// 2. Host code runs with no lock of ours held. The worker raises OnNewPacket
//    holding nothing; a call from the handler runs at once, on the worker.
//    (A host's User_ overrides run on the worker too, and must not wait for
//    the UI thread.)
// 3. What waits for what. A call from another thread that hands work to the
//    worker first waits for the worker to take it: at most 1 s, one read of
//    the driver ("The capture thread did not take the request within 1 s"
//    otherwise, and the work is dropped). PauseCapture and StopCapture do
//    not wait while the worker is inside the new-packet handler (isBound()
//    is false at once; the unbind follows when the handler returns), and
//    StartCaptureAsync never waits. Once the worker has taken it, the call
//    waits for the work, which waits only for the driver: a driver's wait
//    for an answer is bounded (this system's driver: a second for its
//    capture helper, ssh's connect timeout and a second for another host's),
//    and a bind's wait ends at once when a pause, stop or close overtakes
//    the start that runs it (BindCancelled). So a window that starts with
//    StartCaptureAsync never waits for a connect, and its Pause or Stop
//    waits only for the bind to give up. Close (NotifyThreadEnd) waits for
//    the worker to end, handler included. While the UI thread waits for the
//    handler it serves queued calls and timers (not user input), so a
//    handler that waits for the UI thread goes on.
// 4. Widgets are touched on the UI thread alone. Lines, error boxes and the
//    packet count raised on the worker go there as posted events; a call
//    that ran driver work delivers the lines before it returns, so they keep
//    their order. An error box never opens inside such a call or another
//    box (its event loop would run the host's code half-way): it opens from
//    the event loop once they have ended.
//
// Locks: FStateLock (adapter table, filter list, errors, handlers), FFifoLock
// (the FIFO) and FJobLock (queued work and the worker's state). Each guards
// a few field accesses; none is held while a driver or host code runs or while
// waiting for another thread. Every field used by two threads names its guard.
//
// Counting. The received count and the sequence numbers taken from it run
// modulo 2^31: after 2147483647 comes 0, so neither ever turns negative.

#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture/KelNetPacket.h"

class QComboBox;
class QStatusBar;
class TKelNetMonitor;
class TKelNetMonitorThread;

using TNewPacketEvent = std::function<void(TKelNetMonitor* Sender)>;
using TStatusMessageEvent = std::function<void(TKelNetMonitor* Sender, const std::string& mesg)>;

class TKelNetMonitor : public QObject {
  Q_OBJECT
  // The property system needs the complete widget types; only the generated code gets them.
  Q_MOC_INCLUDE(<QComboBox>)
  Q_MOC_INCLUDE(<QStatusBar>)
  Q_PROPERTY(QStatusBar* StatusBar READ statusBar WRITE setStatusBar)
  Q_PROPERTY(QComboBox* AdapterComboBox READ adapterComboBox WRITE setAdapterComboBox)
  Q_PROPERTY(bool ShowErrMsgBox READ showErrMsgBox WRITE setShowErrMsgBox)
  Q_PROPERTY(QString About READ GetTKelNetMonitorVersion WRITE SetTKelNetMonitorVersion STORED false)

 public:
  static constexpr int MaxFifoPackets = 10000;

  // designMode models a form designer editing the component: nothing is initialised.
  explicit TKelNetMonitor(QObject* AOwner = nullptr, bool designMode = false);
  ~TKelNetMonitor() override;

  // --- published properties -------------------------------------------------
  QStatusBar* statusBar() const;
  void setStatusBar(QStatusBar* bar);
  QComboBox* adapterComboBox() const;
  void setAdapterComboBox(QComboBox* box);
  bool showErrMsgBox() const { return ShowErrMsgBox.load(); }
  void setShowErrMsgBox(bool show) { ShowErrMsgBox.store(show); }
  QString GetTKelNetMonitorVersion() const;
  void SetTKelNetMonitorVersion(const QString& ignored);

  // Assignable handlers; StopCallbackEvents unassigns both. Any thread.
  void setOnNewPacket(TNewPacketEvent handler);
  void setOnStatusMessage(TStatusMessageEvent handler);

  // --- lifecycle ---------------------------------------------------------------
  void Initialize();
  // Ends the worker thread, closes the component when open, releases the FIFO.
  // Driver subclasses call it first in their destructor so the driver operations
  // still dispatch to them; calling it twice is harmless.
  void DeInitialize();
  bool Open();
  bool Close();
  bool StartCapture();
  // StartCapture for a host that must not wait (a window): handed to the
  // worker and not waited for; what happens is reported on the status and
  // error channels as StartCapture reports it. With no worker it runs here,
  // as StartCapture.
  void StartCaptureAsync();
  void StopCapture();
  void PauseCapture();

  // --- adapters ------------------------------------------------------------------
  // Adds an entry to the adapter table, which grows as far as the machine has
  // adapters (hosts with containers or virtual machines have dozens).
  void AddAdapter(const std::string& name, const std::string& description);
  void FillAdapterComboBox(QComboBox* box, bool addEmptyFirst);
  void InitializeComboBox();
  void AdapterComboBoxChanges(QObject* Sender);
  bool SelectAdapter(int index);
  bool SelectAdapter(const std::string& text);
  int get_adapternum(const std::string& text) const;
  bool BindAdapter(int index);
  // The driver's answer; true when the worker is inside the new-packet
  // handler and the unbind follows later.
  bool UnBindAdapter();

  // Readers of the component's fields, for hosts; any thread.
  int adapterCount() const;
  std::string adapterName(int index) const;
  std::string adapterDescription(int index) const;
  int selectedAdapter() const { return FSelectedAdapter.load(); }
  bool isOpened() const { return FOpened.load(); }
  bool isBound() const { return FBound.load(); }
  int32_t receivedCount() const { return FReceived.load(); }
  // A StartCaptureAsync is queued or under way (for a remote adapter, often
  // the connect).
  bool isStarting() const { return FStartsUnderWay.load() > 0; }

  // --- errors --------------------------------------------------------------------
  void DNetError(const std::string& text);
  void ClearErrors();
  int errorCount() const;
  std::string errorText() const;

  // For hosts: unassigns both handlers; frames go on being queued and counted.
  void StopCallbackEvents();

  // --- delivery ----------------------------------------------------------------------
  // Takes ownership. Raises OnNewPacket on the calling thread (the worker, in
  // a driver's read); the record passed to User_NewPacketArrived may already
  // have been taken by a consumer on another thread, so an override must not
  // dereference it. An exception that escapes the handler is reported through
  // DNetError, and delivery goes on (so does the worker after an exception of
  // the driver's poll).
  void HandlePacket(TKelNetPacket* packet);
  bool GetNextPacket(TKelNetPacket* packet);  // any thread
  int get_packetcount() const;                // any thread
  // Starts the worker unless one runs; one that a handler's Close has ended is
  // joined first and replaced.
  void NotifyThreadStart(int interval);
  // Ends and joins the worker, after its current turn; wakes the driver's read
  // and the pause, so an idle worker ends at once. From the worker itself (a
  // handler that closes the component) it only asks the worker to end.
  void NotifyThreadEnd();
  bool threadRunning() const { return FThread != nullptr; }  // UI thread

  // --- address filter -------------------------------------------------------------
  bool set_FilterIP(const std::string& list);
  std::string get_FilterIP() const;
  bool apply_FilterIP();
  void FilterAllIP();
  // For hosts: the local host's addresses, and a filter of them.
  static std::string get_LocalIPs();
  static uint32_t IPStringToAddr(const std::string& text);
  void FilterLocalIP();

  // --- virtual operations, in slot order -----------------------------------------
  // The Driver_ operations and TakeTimeToProcess are called on the driver's
  // thread only (rule 1 above).
  virtual bool Driver_SetFilter(const std::string& filterList);
  virtual void User_Error();
  virtual void User_StatusMessage(const std::string& mesg);
  virtual void User_NewPacketArrived(TKelNetPacket* packet);
  virtual void Driver_RetrieveAdapterList();
  virtual bool Driver_Open();
  virtual bool Driver_Close();
  virtual bool Driver_BindAdapter(const char* deviceName);
  virtual bool Driver_UnBindAdapter();
  // For hosts; a driver sends on its own thread (OnDriverThread).
  virtual bool SendPacket(TKelNetPacket* packet);
  virtual void TakeTimeToProcess();
  // For hosts: the driver's name, and its handle of the bound adapter (null when none).
  virtual std::string get_DriverName();
  virtual void* get_driverp();
  // Makes a read that is blocked in TakeTimeToProcess (or the next one to
  // start) return promptly. Any thread; the base class has nothing to wake.
  virtual void Driver_WakeUp();

 protected:
  // How a call waits for the work it hands to the worker.
  enum class Wait {
    ForResult,      // until it has run; given up when the worker has not taken it within 1 s
    UnlessHandler,  // until it has run, or not at all while the worker is inside the handler
    Never,          // not at all: queued, and the caller goes on
  };
  // Runs `work` on the driver's thread (rule 1): at once when this is the
  // worker or no worker runs, else on the worker. True once it has run. False
  // when the caller stopped waiting: UnlessHandler and Never work runs later
  // (so it must hold no reference to the caller's stack; what it throws is
  // reported), ForResult work never runs and the delay has been reported. An
  // exception of `work` that the caller waited for reaches the caller.
  bool OnDriverThread(std::function<void()> work, Wait wait);
  template <class T, class F>
  T OnDriverThread(Wait wait, T fallback, F&& work) {
    T result = fallback;
    OnDriverThread([&] { result = work(); }, wait);
    return result;
  }
  // True while work waits for the worker or the worker is asked to end: a
  // driver that reads batch after batch stops and returns.
  bool WakeRequested() const { return FJobsPending.load() || FEnding.load(); }
  // True while a bind that a start runs has been overtaken by a pause, stop
  // or close (or the worker is to end): a driver that waits for an answer
  // during the bind (a connect) gives up quietly. Driver_WakeUp is called
  // after each such request, so a wait that watches it learns of it at once.
  bool BindCancelled() const;
  // The collected error texts as the user reads them after the error prefix
  // (trimmed, with a full stop), and clears them; empty when nothing was
  // collected. For a User_Error override that reports them its own way.
  std::string TakeErrors();

  bool designMode() const { return FDesignMode; }

  // Fields, as the capture classes name them. A driver gives each record the
  // sequence number FReceived holds when it builds it (see HandlePacket).
  std::atomic<bool> FOpened{false};  // written on the driver's thread
  // Written on the driver's thread; PauseCapture and StopCapture clear it at
  // once on the calling thread too.
  std::atomic<bool> FBound{false};
  std::atomic<int32_t> FReceived{0};  // 0 .. 2147483647, then 0 again
  std::atomic<bool> ShowErrMsgBox{true};

 private:
  friend class TKelNetMonitorThread;
  struct Job;

  // --- the operations' bodies, on the driver's thread ---
  bool OpenHere();
  bool CloseHere();
  bool BindHere(int index);
  // Unbinds when the caller found the adapter bound (`wasBound`) or a bind
  // queued before this unbind has bound it since.
  bool UnbindHere(bool wasBound);
  bool SelectHere(int index);
  // StartCapture's body; `ticket` is the FCaptureOrder its caller took.
  bool StartHere(uint32_t ticket);
  bool ApplyFilterHere();
  // Clears FBound at once, then hands the unbind, `more` and the line to the
  // driver's thread (PauseCapture, StopCapture).
  void EndCapture(std::function<void()> more, const char* line);

  // --- the worker ---
  bool OnWorker() const;  // the calling thread is this component's worker
  void WorkerBody(int interval);
  bool RunJobs();               // the queued work; false once the worker is to end
  bool PauseFor(int interval);  // running work that comes meanwhile; false to end
  void RunJob(const std::shared_ptr<Job>& job);
  bool WaitForJob(const std::shared_ptr<Job>& job, Wait wait);
  // The UI thread waits for `done`, serving queued calls and timers; another
  // thread (or one with no application) waits on FJobWake.
  void WaitForWorker(const std::function<bool()>& done);
  // Tells waiting callers the worker now runs host code (rule 3).
  void EnterHandler();
  // Reports the exception in flight (call from a catch block) as
  // "<what>: <its message>"; a report that itself fails is dropped, so the
  // worker always goes on.
  void ReportException(const std::string& what) noexcept;

  // --- the UI thread's side ---
  bool OnUiThread() const;
  bool ServesUi() const;  // on the UI thread, with an application to serve
  // A posted event, never run at once; `box` when it opens an error box.
  void PostToUi(std::function<void()> work, bool box = false);
  bool event(QEvent* e) override;  // runs what PostToUi posted
  // The UI thread enters and leaves a call that runs driver work or waits for
  // the worker; leaving the outermost one (`deliver`: not by an exception)
  // delivers what the worker handed over meanwhile.
  void EnterCall();
  void LeaveCall(bool deliver);
  void ShowErrorBox(const std::string& message);
  void ShowWaitingBoxes();
  void SetPacketCountText(int32_t received, int32_t buffered);

  bool AdapterEntry(int index, std::string& name) const;
  void AppendToFifo(TKelNetPacket* packet, bool& accepted);
  void DrainFifo();

  bool FDesignMode = false;
  std::thread::id FUiThread;                      // the thread that constructed the component
  std::unique_ptr<TKelNetMonitorThread> FThread;  // UI thread only; null when none
  std::atomic<int> FSelectedAdapter{-1};          // written on the driver's thread
  // Bumped by each start, pause and stop request on its caller's thread
  // before its work is queued, so a start learns that a later request has
  // overtaken it. FBindTicket: the order of the start whose bind runs on the
  // driver's thread, 0 when none (written there).
  std::atomic<uint32_t> FCaptureOrder{0};
  std::atomic<uint32_t> FBindTicket{0};
  std::atomic<int> FStartsUnderWay{0};  // StartCaptureAsync: queued or running

  // Guarded by FStateLock. The texts of the adapter table outlive Close;
  // FAdapterCount says how many are in use.
  mutable std::mutex FStateLock;
  int FAdapterCount = 0;
  std::vector<std::string> FAdapterName;
  std::vector<std::string> FAdapterDescription;
  std::string FFilterIP;
  int FErrorCount = 0;
  std::string FErrorText;
  TNewPacketEvent OnNewPacket;
  TStatusMessageEvent OnStatusMessage;

  // Packet FIFO (oldest first), guarded by FFifoLock; the count is also read
  // without it.
  mutable std::mutex FFifoLock;
  std::atomic<int32_t> FPacketCount{0};
  TKelNetPacket* FFirst = nullptr;
  TKelNetPacket* FLast = nullptr;

  // Work for the worker and the worker's state, guarded by FJobLock. FJobWake
  // is signalled when work is queued or done, the worker enters the handler
  // while a caller watches, and the worker is to end or has ended.
  std::mutex FJobLock;
  std::condition_variable FJobWake;
  std::deque<std::shared_ptr<Job>> FJobs;
  bool FWorkerTakesJobs = false;          // from NotifyThreadStart until the worker's last job
  bool FWorkerDone = false;               // the worker's body has returned
  std::atomic<bool> FJobsPending{false};  // FJobs is not empty; written under FJobLock
  std::atomic<bool> FEnding{false};       // the worker is to end; written under FJobLock
  std::atomic<bool> FInHandler{false};    // the worker runs host code; written by the worker
  std::atomic<int> FHandlerWatchers{0};   // callers waiting to learn of FInHandler

  // UI thread only.
  int FInCall = 0;  // EnterCall / LeaveCall
  bool FBoxOpen = false;
  std::deque<std::string> FBoxesWaiting;

  QPointer<QStatusBar> FStatusBar;            // UI thread only
  QPointer<QComboBox> FAdapterComboBox;       // UI thread only
  std::atomic<bool> FHasStatusBar{false};     // read by the worker before it posts a count
  std::atomic<bool> FCountLinePosted{false};  // a packet-count line is on its way to the UI thread
  QMetaObject::Connection FStatusBarGone;
};

// The component's worker thread. Its body is the component's (WorkerBody):
// turns of TakeTimeToProcess and a pause, with the work other threads queue
// to it run between them, until the component asks it to end.
class TKelNetMonitorThread final {
 public:
  // Starts the body at once. interval: pause after each poll, in ms.
  TKelNetMonitorThread(TKelNetMonitor* monitor, int32_t interval);
  // Waits for the body, which the component has asked to end.
  ~TKelNetMonitorThread();

  TKelNetMonitorThread(const TKelNetMonitorThread&) = delete;
  TKelNetMonitorThread& operator=(const TKelNetMonitorThread&) = delete;

  // The worker running on the calling thread, or null on any other thread.
  static TKelNetMonitorThread* Current();
  TKelNetMonitor* Monitor() const { return FMonitor; }

 private:
  TKelNetMonitor* FMonitor;
  int32_t FInterval;
  std::thread FThread;  // last: started only when every other field is ready
};
