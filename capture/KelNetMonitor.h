#pragma once
// The capture component: adapter table, capture lifecycle, packet FIFO, worker
// thread and the status / error channels. It never talks to a capture library
// itself; a driver subclass implements the Driver_ operations and TakeTimeToProcess.
//
// Threads. The component lives on the user-interface (UI) thread: every public
// operation except the delivery side (HandlePacket, GetNextPacket, get_packetcount)
// is called there. The worker thread calls TakeTimeToProcess with the adapter lock
// held; the UI thread takes the same lock around every change of the driver's
// adapter (bind, unbind, filter, send) after waking a read that may be blocked, so
// the handle is never changed under a read and no change waits for the next frame.
// Widgets (status bar, combo box, message boxes) are only touched on the UI thread:
// the worker hands status lines and error boxes over through a mailbox that it
// never waits on.

#include <QObject>
#include <QPointer>
#include <QString>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
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

  int adapterCount() const { return FAdapterCount; }
  std::string adapterName(int index) const;
  std::string adapterDescription(int index) const;
  int selectedAdapter() const { return FSelectedAdapter; }
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
  // consumer on another thread, so an override must not dereference it.
  void HandlePacket(TKelNetPacket* packet);
  bool GetNextPacket(TKelNetPacket* packet);  // any thread
  int get_packetcount() const;                // any thread
  void NotifyThreadStart(int interval);
  // Ends and joins the worker; returns within one short turn because it wakes
  // the driver's read and the pause. Reached from the worker itself (a handler
  // that closes the component) it only asks the worker to end; the next call
  // on the UI thread joins it.
  void NotifyThreadEnd();
  bool threadRunning() const { return FThread != nullptr; }

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

  // Fields, as the capture classes name them.
  TKelNetMonitorThread* FThread = nullptr;
  std::string FFilterIP;
  std::atomic<bool> FOpened{false};
  int FAdapterCount = 0;
  std::vector<std::string> FAdapterName;
  std::vector<std::string> FAdapterDescription;
  int FSelectedAdapter = -1;
  std::atomic<bool> FBound{false};
  std::atomic<int32_t> FReceived{0};
  std::atomic<bool> ShowErrMsgBox{true};

 private:
  friend class TKelNetMonitorThread;
  void ThreadTurn();  // one worker turn: lock, TakeTimeToProcess
  // The UI thread's wait for the worker (its end, or the adapter lock): until
  // `done` holds, it delivers the calls other threads queue to this thread, so
  // a new-packet handler that waits on the UI thread can finish its turn. Our
  // own queued work waits until the end. `done` may block for a moment.
  void ServeUiUntil(const std::function<bool()>& done);
  bool ServesUi() const;  // on the UI thread, with an application to serve
  void SetPacketCountText(int32_t received, int32_t buffered);
  void AppendToFifo(TKelNetPacket* packet, bool& accepted);
  void DrainFifo();
  void ReleaseFifo();

  bool FDesignMode = false;
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
  bool FFlushDeferred = false;    // UI thread only: a flush arrived while serving
  std::string FPendingCountText;  // latest packet-count line, coalesced
  bool FCountTextPending = false;
};
