#pragma once
// The main window: image buttons, capture state, adapter box, packet list,
// protocol tree and the two dumps. It owns the capture component and the list
// of stored frames.
//
// Threads. NetMonitorNewPacket runs on the capture component's worker thread:
// it only moves frames into the frame list (whose own synchronisation makes the
// bytes visible to the user-interface thread) and, at most once until the UI
// has caught up, queues a call without data that lists the new rows in one
// batch. No widget is touched from the worker and the worker never waits on
// the UI thread.
//
// Repaints. New rows are listed at most about 30 times a second, however fast
// frames arrive, so the grid is repainted at a frame rate and not at the
// capture rate. Frames opened from a file take the same way into the list.
//
// Whole captures. The packet list's context menu opens a capture file (or a
// saved frame) in place of the listed frames, also by drag and drop anywhere
// on the window, and saves the listed frames as a pcap file. Both run on the
// UI thread in short slices (file_job.h), one at a time; a Start or a close
// first ends a load (what it listed stays until the Start clears it) and
// finishes a save. Captured frames that no save has written are not
// discarded unasked: a Start after Stop, an opened file and a close first
// ask Save, Discard or Cancel (MayDiscardFrames).
//
// Go to and find. The same menu selects a frame by its number and searches the
// listed frames (packet_finder.h); a search runs on a thread of its own and is
// ended before anything clears the list and before the window goes.
//
// Display filter. The same menu lists only the frames that match an
// expression (display_filter.h); its walk is ended before anything clears the
// list and before the window goes, as a search is.
//
// Other hosts. The adapter box's context menu adds the adapters of a host
// reached over SSH, listed after the machine's own (remote_hosts.h), and sets
// a capture filter (capture_filter.h).
//
// Storage. Frames stay on disk (frame_list.h): live ones in the spool, whose
// file system's free space is the limit, opened ones in their own file; the
// index in memory has a budget (storage_budget.h). Once storing has stopped
// the handler still takes every frame from the component, so the capture runs
// on and the queue stays short, but stores none, and the user is told once, in
// a message box, until Stop and Start clear the list. A frame whose file has
// changed under the window shows nothing, and a box says why, once.

#include <QElapsedTimer>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "app/packet_grid.h"
#include "capture/KelNetPacket.h"
#include "pcapfile/frame_list.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QTabWidget;
class QTextEdit;
class QToolButton;
class QTreeWidget;
class TKelNetMonitor;
class TPacketListModel;
class TFrameViews;
class TForm2;
class TForm3;
class QTimer;
class TFileJob;
class TCaptureLoad;
class TCaptureSave;
class TPacketFinder;
class TDisplayFilter;
class TCaptureFilter;
class TRemoteHosts;
class TStreamTools;

class TForm1 : public QWidget {
  Q_OBJECT
 public:
  // Builds the capture component with the window as its owner. Tests and
  // benchmarks hand in a driver of their own; by default it is the libpcap driver.
  using MonitorFactory = std::function<TKelNetMonitor*(QObject* owner)>;

  // The frame list exists before any window (its head entry is created at
  // start-up) and outlives this window.
  explicit TForm1(netvane::FrameList& frames, QWidget* parent = nullptr, MonitorFactory factory = {});
  ~TForm1() override;

  // The save dialog and the about box, created after this window.
  void AttachWindows(TForm2* form2, TForm3* form3);

  // --- controls (named as in the layout) --------------------------------------
  QToolButton* Start = nullptr;
  QToolButton* Pause = nullptr;
  QToolButton* Stop = nullptr;
  QToolButton* Save = nullptr;
  QToolButton* About = nullptr;
  QLabel* Status = nullptr;
  QLabel* Captured = nullptr;
  QCheckBox* Broadcast = nullptr;
  QLabel* Label1 = nullptr;
  QComboBox* CardBox = nullptr;
  QTabWidget* PageControl1 = nullptr;
  QWidget* TabSheet1 = nullptr;
  QTreeWidget* TV = nullptr;
  TPacketGrid* Packets = nullptr;
  QTextEdit* Packet = nullptr;
  QTextEdit* PacketASCII = nullptr;

  TKelNetMonitor* NetMonitor = nullptr;

  // The packet list's context menu; their shortcuts work anywhere in the window.
  QAction* OpenCaptureAction = nullptr;  // "Open capture...", Ctrl+O
  QAction* SaveCaptureAction = nullptr;  // "Save capture as...", Ctrl+Shift+S

  // --- state, readable by tests --------------------------------------------------
  netvane::FrameList& frames() { return FFrames; }
  TPacketListModel* packetModel() const { return FModel; }
  // The open or save of a whole capture still under way, if any.
  TFileJob* fileJob() const;

  // --- the parts that work on the listed frames, for one another ----------------
  // The dumps and the tree of the selected frame.
  TFrameViews* frameViews() const { return FViews; }
  // Go to and find (their actions, dialogs and the search under way).
  TPacketFinder* finder() const { return FFinder; }
  // The display filter (its actions, dialog and the frames it shows).
  TDisplayFilter* displayFilter() const { return FFilter; }
  // The capture filter (the adapter box's context menu).
  TCaptureFilter* captureFilter() const { return FCaptureFilter; }
  // The capture runs (or is starting); a capture filter set now applies from the next Start.
  bool capturing() const { return FState == CaptureState::Capturing; }
  // The host a Start is connecting to, while it connects; empty otherwise.
  QString connectingTo() const { return FConnectingTo; }
  // Conversations and Follow TCP stream (the packet list's context menu).
  TStreamTools* streamTools() const { return FStreamTools; }

  // --- handlers ----------------------------------------------------------------------
  void FormCreate();
  void FormClose();
  void StartClick();
  void PauseClick();
  void StopClick();
  void SaveClick();
  void AboutClick();
  // ACol is ignored; ARow is the grid row (row 0 is the header row).
  void PacketsSelectCell(int ACol, int ARow);
  void NetMonitorNewPacket(TKelNetMonitor* Sender);
  // Empties the packet list and the frame list; Captured, tree and dumps stay.
  void ClearPackets();
  // Lists every frame stored so far (UI thread). Normally run by FramesStored.
  void ListNewFrames();
  // Frames were stored: lists them now, or when the last listing is a frame
  // interval (about 1/30 s) old.
  void FramesStored();

  // The file dialogs of the context menu, then the two below.
  void OpenCaptureClick();
  void SaveCaptureClick();
  // Lists the frames of a capture file or a saved frame in place of the
  // listed ones, and leaves the window stopped. Refused, with a box saying
  // so, while capturing; asks before replacing listed frames; a file that
  // cannot be listed is reported and changes nothing. True when the load
  // has begun.
  bool OpenCaptureFile(const QString& path);
  // Writes the listed frames to `path` as a pcap file: those a display filter
  // shows, or with `shownOnly` false all of them. True when the save has begun.
  bool SaveCaptureFile(const QString& path, bool shownOnly = true);
  // Before listed frames go (a Start after Stop, an opened file, closing):
  // true when they may. Live frames that were never saved are not discarded
  // unasked: Save (then true once "Save capture as..." has written them all),
  // Discard (true) or Cancel (false, and everything stays).
  bool MayDiscardFrames();
  // The list holds captured frames that no save has written yet.
  bool HasUnsavedFrames() const;

  // At most this often the list takes in new frames and the grid repaints.
  static constexpr int kListingIntervalMs = 33;

 signals:
  // The main window has been closed: the program ends.
  void closed();

 protected:
  void closeEvent(QCloseEvent* event) override;
  // File drops anywhere on the window, its controls included.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildLayout();
  void SetUpWindow();
  void BuildButtonsAndLabels();
  void BuildCardBox(const QPalette& system);
  void BuildPage(const QPalette& system);
  void BuildBroadcast();
  void BuildActions();
  void ConnectHandlers();
  void SetStatus(const char* text);
  // The capture state of Start, Pause and Stop, and the Status text that shows it.
  enum class CaptureState { Idle, Capturing, Paused, Stopped };
  void EnterState(CaptureState state);
  // What Stop leaves: not capturing, and the next Start clears the lists.
  void EnterStoppedState();

  void LoadFinished(TCaptureLoad& load);
  void SaveFinished(TCaptureSave& save);
  // Ends a file job before the list may be cleared or the window goes: a
  // load stops where it is, a save is written to its end.
  void EndFileJob();
  // The file dialog of "Save capture as..."; empty when it was cancelled.
  QString AskSavePath(bool shownOnly = true);
  // While capturing: says to pause or stop first, and true.
  bool RefusedWhileCapturing();

  netvane::FrameList& FFrames;
  TPacketListModel* FModel = nullptr;
  TFrameViews* FViews = nullptr;
  TForm2* FForm2 = nullptr;
  TForm3* FForm3 = nullptr;

  // Set by EnterState alone. Idle only until the first Start or a file opened;
  // whether the first Start has come is whether the component's worker runs.
  CaptureState FState = CaptureState::Idle;
  // While a start connects to another host: the title says to whom
  // (FConnectingTo), until the start has ended (FConnecting watches it).
  // UI thread only.
  void ShowConnecting();
  QTimer* FConnecting = nullptr;
  QString FConnectingTo;

  QTimer* FListTimer = nullptr;  // a listing held back to keep the frame rate
  QElapsedTimer FSinceListing;
  QPointer<TFileJob> FJob;
  QString FFileDirectory;  // where the file dialogs open
  bool FSaved = false;     // the last "Save capture as..." wrote its file
  // UI: frames 1 to this were written by a save since the last Clear.
  uint32_t FSavedThrough = 0;

  TPacketFinder* FFinder = nullptr;   // ended before the list is cleared and before the window goes
  TDisplayFilter* FFilter = nullptr;  // the same
  TRemoteHosts* FRemoteHosts = nullptr;
  TCaptureFilter* FCaptureFilter = nullptr;
  TStreamTools* FStreamTools = nullptr;  // its windows end their walks before the list is cleared
  // Hands the remembered remote adapters to the driver and, until the first
  // Start, lists the adapters again in the box, keeping the one shown.
  void RemoteAdaptersChanged();

  // Worker side.
  TKelNetPacket FReceive;                   // the receive record
  std::atomic<bool> FSkipBroadcast{false};  // mirror of the Broadcast check box
  std::atomic<bool> FRowsPending{false};    // a listing call is queued
  std::atomic<bool> FFullNoticed{false};    // the worker found the list full since the last Clear
  std::atomic<bool> FTakeLive{true};        // false from opening a file to the next Start
  // The number of the last live frame stored since the last Clear (0: none);
  // written by the worker under FAppendLock and by Clear, read by the UI.
  std::atomic<uint32_t> FLiveStored{0};
  bool FFullReported = false;        // UI: the box was shown since the last Clear
  bool FUnreadableReported = false;  // UI: an unreadable frame was reported since the last Clear
  std::mutex FAppendLock;            // appends vs. Clear; never held across a wait on the UI
};
