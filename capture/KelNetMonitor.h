#pragma once
// The capture component: adapter table, capture lifecycle, packet FIFO, worker
// thread and the status / error channels. It never talks to a capture library
// itself; a driver subclass implements the Driver_ operations and TakeTimeToProcess.
//
// Threads. Two threads use a component: the user-interface (UI) thread, the
// one that constructed it, and its worker thread, which polls the driver and
// raises OnNewPacket. The host calls the operations on the UI thread, and its
// new-packet handler may call them on the worker, except these, which belong
// to the UI thread alone: Initialize, DeInitialize, Open, the combo-box
// operations (FillAdapterComboBox, InitializeComboBox, AdapterComboBoxChanges),
// the control properties, NotifyThreadStart and threadRunning. Close or
// NotifyThreadEnd from the handler cannot wait for the worker it runs on: the
// worker ends after that turn and the UI thread joins it later. The queries
// (isOpened, adapterName, get_packetcount, ...), GetNextPacket, DNetError, the
// handler setters and StopCallbackEvents may be called from any thread.
//
// Every field that both threads reach is either atomic or kept under a lock of
// its own, named beside it below; no such lock is held while host code runs.
// The worker calls TakeTimeToProcess, and so the new-packet handler, with the
// adapter lock held; the UI thread takes the same lock around every change of
// the driver's adapter (bind, unbind, filter, send) after waking a read that
// may be blocked, so the handle is never changed under a read and no change
// waits for the next frame. While the UI thread waits for that lock it keeps
// serving calls queued to it, so whatever it checked before the wait is
// checked again once it holds the lock.
//
// Widgets (status bar, combo box, message boxes) are only touched on the UI
// thread: the worker hands status lines and error boxes over through a mailbox
// that it never waits on. An error box never opens while the UI thread holds
// the adapter lock; it waits until the lock is released, so the worker goes on
// delivering frames while the box is open.
//
// Counting. The received count and the sequence numbers taken from it run
// modulo 2^31: after 2147483647 comes 0, so neither ever turns negative.

#include <QObject>
#include <QPointer>
#include <QString>

#include <array>
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

  // Assignable handlers; StopCallbackEvents unassigns both. Safe to change while
  // the worker thread delivers.
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
  bool UnBindAdapter();

  int adapterCount() const;
  std::string adapterName(int index) const;
  std::string adapterDescription(int index) const;
  int selectedAdapter() const { return FSelectedAdapter.load(); }
  bool isOpened() const { return FOpened.load(); }
  bool isBound() const { return FBound.load(); }
  int32_t receivedCount() const { return FReceived.load(); }

  // --- errors --------------------------------------------------------------------
  void DNetError(const std::string& text);
  void ClearErrors();
  int errorCount() const;
  std::string errorText() const;

  void StopCallbackEvents();

  // --- delivery (the worker's side) -------------------------------------------------
  // Takes ownership. Raises OnNewPacket on the calling (worker) thread; the
  // record passed to User_NewPacketArrived may already have been taken by a
  // consumer on another thread, so an override must not dereference it. An
  // exception that escapes the handler is reported through DNetError, and
  // delivery goes on (so does the worker after an exception of the driver's poll).
  void HandlePacket(TKelNetPacket* packet);
  bool GetNextPacket(TKelNetPacket* packet);  // any thread
  int get_packetcount() const;                // any thread
  // Starts the worker unless one runs; one that a handler's Close has ended is
  // joined first and replaced.
  void NotifyThreadStart(int interval);
  // Ends and joins the worker; returns within one short turn because it wakes
  // the driver's read and the pause. Reached from the worker itself (a handler
  // that closes the component) it only asks the worker to end; the next call
  // on the UI thread joins it.
  void NotifyThreadEnd();
  bool threadRunning() const { return FThread != nullptr; }  // UI thread

  // --- address filter -------------------------------------------------------------
  bool set_FilterIP(const std::string& list);
  std::string get_FilterIP() const;
  bool apply_FilterIP();
  void FilterAllIP();
  static std::string get_LocalIPs();
  static uint32_t IPStringToAddr(const std::string& text);
  void FilterLocalIP();

  // --- virtual operations, in slot order -----------------------------------------
  virtual bool Driver_SetFilter(const std::string& filterList);
  virtual void User_Error();
  virtual void User_StatusMessage(const std::string& mesg);
  virtual void User_NewPacketArrived(TKelNetPacket* packet);
  virtual void Driver_RetrieveAdapterList();
  virtual bool Driver_Open();
  virtual bool Driver_Close();
  virtual bool Driver_BindAdapter(const char* deviceName);
  virtual bool Driver_UnBindAdapter();
  // Called on the UI thread; a driver sends under AdapterGuard so the handle
  // cannot change under a read.
  virtual bool SendPacket(TKelNetPacket* packet);
  virtual void TakeTimeToProcess();
  virtual std::string get_DriverName();
  virtual void* get_driverp();
  // Makes a read that is blocked in TakeTimeToProcess (or the next one to start)
  // return promptly. Called from the UI thread without the adapter lock; must be
  // safe against a concurrent read. The base class has nothing to wake.
  virtual void Driver_WakeUp();

 public slots:
  // Runs on the UI thread: status lines, status-bar texts and error boxes handed
  // over by the worker thread, in the order they were posted. Not re-entered.
  void FlushUiWork();

 protected:
  // Held by the worker around TakeTimeToProcess and by the UI thread around every
  // change of the driver's adapter. Lock order: adapter lock, then FIFO lock.
  class AdapterGuard {
   public:
    explicit AdapterGuard(TKelNetMonitor& monitor);
    // Takes over the lock this thread has just acquired itself.
    AdapterGuard(TKelNetMonitor& monitor, std::adopt_lock_t);
    ~AdapterGuard();
    AdapterGuard(const AdapterGuard&) = delete;
    AdapterGuard& operator=(const AdapterGuard&) = delete;

   private:
    TKelNetMonitor& m;
  };
  // True while another thread waits for the adapter lock or the thread is asked
  // to end: a driver that reads again after a full batch stops and returns.
  bool WakeRequested() const;

  // Hands work to the UI thread; runs it at once when already there. Never waits.
  void PostToUi(std::function<void()> work);
  bool OnUiThread() const;

  bool designMode() const { return FDesignMode; }

  // Fault injection for tests of the FIFO's self-check: overwrites the three
  // indicators without touching the records. Nothing else may call it.
  void ForceFifoIndicators(TKelNetPacket* first, TKelNetPacket* last, int32_t count);
  // True when the indicators agree: both ends null and count 0, or a chain of
  // exactly count records from FFirst whose last one is FLast.
  bool FifoIndicatorsAgree() const;

  // Fields, as the capture classes name them. A driver gives each record the
  // sequence number FReceived holds when it builds it (see HandlePacket).
  std::atomic<bool> FOpened{false};
  std::atomic<bool> FBound{false};
  std::atomic<int32_t> FReceived{0};  // 0 .. 2147483647, then 0 again
  std::atomic<bool> ShowErrMsgBox{true};

 private:
  friend class TKelNetMonitorThread;
  void ThreadTurn();  // one worker turn: lock, TakeTimeToProcess
  // Reports the exception in flight (call from a catch block) as
  // "<what>: <its message>"; a report that itself fails is dropped, so the
  // worker always goes on.
  void ReportException(const std::string& what) noexcept;
  // The adapter entry at `index`, or false when there is none.
  bool AdapterEntry(int index, std::string& name) const;
  // Hands work to the UI thread through the mailbox, also when called there.
  void QueueForUi(std::function<void()> work);
  bool HoldsAdapter() const;  // the calling thread holds the adapter lock
  // The UI thread's wait for the worker (its end, or the adapter lock): until
  // `done` holds, it delivers the calls other threads queue to this thread, so
  // a new-packet handler that waits on the UI thread can finish its turn. Our
  // own queued work waits until the end. `done` may block for a moment.
  void ServeUiUntil(const std::function<bool()>& done);
  bool ServesUi() const;  // on the UI thread, with an application to serve
  void SetPacketCountText(int32_t received, int32_t buffered);
  void AppendToFifo(TKelNetPacket* packet, bool& accepted);
  void DrainFifo();

  bool FDesignMode = false;
  std::unique_ptr<TKelNetMonitorThread> FThread;  // UI thread only; null when none
  std::atomic<int> FSelectedAdapter{-1};

  // The adapter table and the filter list, guarded by FStateLock. The texts
  // of the table outlive Close; FAdapterCount says how many are in use.
  mutable std::mutex FStateLock;
  int FAdapterCount = 0;
  std::vector<std::string> FAdapterName;
  std::vector<std::string> FAdapterDescription;
  std::string FFilterIP;

  QPointer<QStatusBar> FStatusBar;
  QPointer<QComboBox> FAdapterComboBox;
  std::atomic<bool> FHasStatusBar{false};

  mutable std::mutex FHandlerLock;
  TNewPacketEvent OnNewPacket;
  TStatusMessageEvent OnStatusMessage;

  // Packet FIFO (oldest first), guarded by FFifoLock.
  mutable std::mutex FFifoLock;
  std::atomic<int32_t> FPacketCount{0};
  TKelNetPacket* FFirst = nullptr;
  TKelNetPacket* FLast = nullptr;

  mutable std::mutex FErrorLock;
  int FErrorCount = 0;
  std::string FErrorText;

  std::mutex FAdapterLock;
  std::atomic<int> FWakeRequests{0};
  // The adapter lock is re-entrant for its holder (BindAdapter unbinds and
  // installs the filter under the lock it already holds).
  std::atomic<std::thread::id> FAdapterOwner{};
  int FAdapterDepth = 0;             // touched only by the holder
  std::atomic<bool> FEnding{false};  // NotifyThreadEnd is under way

  std::thread::id FUiThread;  // the thread that constructed the component
  QMetaObject::Connection FStatusBarGone;

  // UI mailbox.
  std::mutex FMailboxLock;
  std::deque<std::function<void()>> FMailbox;
  bool FFlushPosted = false;
  bool FFlushing = false;
  int FServing = 0;               // UI thread only: ServeUiUntil is running
  bool FFlushDeferred = false;    // UI thread only: a flush arrived while serving or holding the adapter
  std::string FPendingCountText;  // latest packet-count line, coalesced
  bool FCountTextPending = false;
};
