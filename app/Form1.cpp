// The main window's life: creation, closing, the packet list and the frame list.
#include "app/Form1.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QSignalBlocker>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include "app/About.h"
#include "app/Form2.h"
#include "app/capture_filter.h"
#include "app/display_filter.h"
#include "app/file_job.h"
#include "app/frame_views.h"
#include "app/message_box.h"
#include "app/packet_finder.h"
#include "app/packet_list_model.h"
#include "app/remote_hosts.h"
#include "app/stream_tools.h"
#include "app/window_title.h"
#include "capture/KelNetMonitor.h"
#include "capture/KelWinPcapNetMonitor.h"
#include "decode/packet_row.h"
#include "pcapfile/storage_budget.h"

namespace {

TKelNetMonitor* DefaultMonitor(QObject* owner) {
  return new TKelWinPcapNetMonitor(owner);
}

}  // namespace

TForm1::TForm1(netvane::FrameList& frames, QWidget* parent, MonitorFactory factory)
    : QWidget(parent), FFrames(frames) {
  FFrames.SetBudget(netvane::DefaultFrameBudget());
  FModel = new TPacketListModel(FFrames, this);
  BuildLayout();
  BuildActions();
  FFinder = new TPacketFinder(this);
  // The views hook the tree's clicks (TVClick) themselves.
  FViews = new TFrameViews(Packet, PacketASCII, TV, this);
  FFilter = new TDisplayFilter(this);
  FStreamTools = new TStreamTools(this);
  FListTimer = new QTimer(this);
  FListTimer->setSingleShot(true);
  connect(FListTimer, &QTimer::timeout, this, &TForm1::ListNewFrames);

  // Building the window creates the component; its stored settings are applied
  // after construction, as a form designer would.
  NetMonitor = factory ? factory(this) : DefaultMonitor(this);
  NetMonitor->setObjectName(QStringLiteral("NetMonitor"));
  NetMonitor->setAdapterComboBox(CardBox);
  NetMonitor->setOnNewPacket([this](TKelNetMonitor* Sender) { NetMonitorNewPacket(Sender); });
  TKelWinPcapNetMonitor::ApplyProgramSettings(NetMonitor);
  FRemoteHosts = new TRemoteHosts(this);
  connect(FRemoteHosts, &TRemoteHosts::changed, this, [this] { RemoteAdaptersChanged(); });
  // Listed by the Open in FormCreate.
  if (auto* driver = dynamic_cast<TKelWinPcapNetMonitor*>(NetMonitor))
    driver->SetRemoteAdapters(FRemoteHosts->AdapterNames());

  ConnectHandlers();
  // After the window's handlers: it sees a Start once the window has made it.
  FCaptureFilter = new TCaptureFilter(this);
  netvane::ShowWindowTitle(this);  // a remembered capture filter
  FormCreate();
}

TForm1::~TForm1() {
  // A file job or a search left running (the window was not closed) goes without a word.
  delete FJob.data();
  FFinder->End();
  FFilter->ListCleared();  // its walk reads the frame list
  delete FRemoteHosts;     // waits for a listing under way, which ends on its own
  FRemoteHosts = nullptr;
  // The component goes first: its destruction ends the worker thread, which
  // must not reach this window's members once they start to go away.
  delete NetMonitor;
  NetMonitor = nullptr;
  // The views watch the tree's viewport; they go before the controls do, so
  // no event of a control being torn down reaches them.
  delete FViews;
  FViews = nullptr;
}

void TForm1::AttachWindows(TForm2* form2, TForm3* form3) {
  FForm2 = form2;
  FForm3 = form3;
  if (form2 != nullptr) {
    // The binary save writes the current entry's bytes, the hex save the dump as shown.
    form2->setFrameSource(
        [this]() -> std::optional<std::vector<uint8_t>> {
          std::vector<uint8_t> bytes;
          if (!FFrames.ReadFrame(FFrames.Current(), bytes)) return std::nullopt;
          return bytes;
        },
        [this] { return FViews->HexText(); });
  }
}

void TForm1::ConnectHandlers() {
  connect(Start, &QToolButton::clicked, this, [this] { StartClick(); });
  connect(Pause, &QToolButton::clicked, this, [this] { PauseClick(); });
  connect(Stop, &QToolButton::clicked, this, [this] { StopClick(); });
  connect(Save, &QToolButton::clicked, this, [this] { SaveClick(); });
  connect(About, &QToolButton::clicked, this, [this] { AboutClick(); });
  connect(Broadcast, &QCheckBox::toggled, this, [this](bool on) { FSkipBroadcast.store(on); });
  // Any cell of a row shows the row's frame: a cell the mouse or the keys make
  // current, and a press on the cell that already is.
  connect(Packets->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) {
            if (current.isValid()) PacketsSelectCell(current.column(), current.row() + 1);
          });
  connect(Packets, &TPacketGrid::currentCellPressed, this,
          [this](const QModelIndex& cell) { PacketsSelectCell(cell.column(), cell.row() + 1); });
}

void TForm1::FormCreate() {
  // The header row comes from the model; the frame list's head entry exists
  // since the list was built and is the current entry.
  FViews->InitialTree();  // "Ethernet Header", "IP Header", "TCP Header"
  NetMonitor->Open();
  NetMonitor->FillAdapterComboBox(CardBox, false);
  // Shows the first adapter without telling the component: its selection stays.
  const QSignalBlocker block(CardBox);
  CardBox->setCurrentIndex(0);
}

void TForm1::RemoteAdaptersChanged() {
  auto* driver = dynamic_cast<TKelWinPcapNetMonitor*>(NetMonitor);
  if (driver == nullptr) return;
  driver->SetRemoteAdapters(FRemoteHosts->AdapterNames());
  // After the first Start the box no longer changes; the list is taken as it was.
  if (NetMonitor->threadRunning()) return;
  const QString shown = CardBox->currentText();
  NetMonitor->Open();
  NetMonitor->FillAdapterComboBox(CardBox, false);
  const QSignalBlocker block(CardBox);
  CardBox->setCurrentIndex(std::max(0, CardBox->findText(shown)));
}

void TForm1::FormClose() {
  EndFileJob();
  FFinder->End();
  FFilter->ListCleared();
  // Ends the worker thread (waiting for it) before anything is destroyed.
  NetMonitor->Close();
}

void TForm1::closeEvent(QCloseEvent* event) {
  // A save under way is written to its end first: it may be the one that
  // keeps the frames.
  EndFileJob();
  if (!MayDiscardFrames()) {
    event->ignore();
    return;
  }
  FormClose();
  event->accept();
  emit closed();
}

void TForm1::SetStatus(const char* text) {
  Status->setText(QString::fromLatin1(text));
  Status->adjustSize();
}

// --- packet list ---------------------------------------------------------------

void TForm1::NetMonitorNewPacket(TKelNetMonitor* Sender) {
  bool stored = false;
  bool refused = false;
  bool tell = false;
  {
    const std::lock_guard<std::mutex> lock(FAppendLock);
    // Once a file has been opened into the list, nothing the component still
    // hands over belongs to it.
    const bool take = FTakeLive.load();
    // One call drains every waiting frame; the bound only guards against a
    // component that keeps reporting frames it cannot hand out.
    for (int taken = 0; taken < TKelNetMonitor::MaxFifoPackets && Sender->get_packetcount() > 0; ++taken) {
      if (!Sender->GetNextPacket(&FReceive)) break;
      if (!take) continue;
      const std::span<const uint8_t> frame(FReceive.Data, FReceive.Data ? FReceive.Length : 0);
      // The check box is read once per frame: a change affects later frames only.
      if (netvane::LeftOut(frame, FSkipBroadcast.load())) continue;
      netvane::CaptureStamp stamp{FReceive.CaptureSeconds, FReceive.CaptureMicroseconds, FReceive.WireLength};
      // A driver that gives no time stamp: the frame is stamped as it is taken.
      if (stamp.seconds == 0 && stamp.microseconds == 0) {
        stamp = netvane::StampOfNow();
        stamp.wireLength = FReceive.WireLength;
      }
      if (const uint32_t number = FFrames.Append(frame.data(), static_cast<uint32_t>(frame.size()), stamp)) {
        FLiveStored.store(number);
        stored = true;
      } else {
        refused = true;  // storing has stopped: taken off the queue, not kept
      }
    }
    // A full list wakes the UI once, to tell the user; later refusals do not.
    // Under the lock, so that a Clear cannot come between the two.
    tell = refused && !FFullNoticed.exchange(true);
  }
  // One queued call, without data, until the UI has listed what is there.
  if ((stored || tell) && !FRowsPending.exchange(true))
    QMetaObject::invokeMethod(this, &TForm1::FramesStored, Qt::QueuedConnection);
}

void TForm1::FramesStored() {
  if (FListTimer->isActive()) return;  // a listing is already due
  const qint64 since = FSinceListing.isValid() ? FSinceListing.elapsed() : kListingIntervalMs;
  if (since >= kListingIntervalMs)
    ListNewFrames();
  else
    FListTimer->start(static_cast<int>(kListingIntervalMs - since));
}

void TForm1::ListNewFrames() {
  FListTimer->stop();
  FSinceListing.restart();
  // Cleared before the count is read: frames stored after the read queue a new call.
  FRowsPending.store(false);
  // The spool is written every few milliseconds while frames come; the last
  // ones before a pause are written here. Never waits for the worker: when it
  // is at work, the next listing tries again.
  if (!FFrames.TryFlush()) FListTimer->start(kListingIntervalMs);
  const uint32_t count = FFrames.Count();
  // Under a display filter the list's rows come from its walk.
  const bool counted = FFilter != nullptr && FFilter->FramesListed(count);
  if (FModel->ListUpTo(count) || counted) {
    Captured->setText(QString::number(count));
    Captured->adjustSize();
  }
  if (!FFullReported && FFrames.Full()) {
    FFullReported = true;
    netvane::NoticeBox(this, QString::fromStdString(netvane::StorageStopText(FFrames)));
  }
}

void TForm1::ClearPackets() {
  // Whatever was stored before the Clear is listed first, so Captured keeps
  // the number of the last stored frame.
  ListNewFrames();
  FFinder->End();          // a search reads the frames that go now
  FFilter->ListCleared();  // so does the display filter's walk
  const std::lock_guard<std::mutex> lock(FAppendLock);
  FModel->ClearFrames();
  FLiveStored.store(0);
  FSavedThrough = 0;
  // An empty list has room again; when it fills up the user is told again.
  FFullNoticed.store(false);
  FFullReported = false;
  FUnreadableReported = false;
}

void TForm1::PacketsSelectCell(int ACol, int ARow) {
  Q_UNUSED(ACol);
  if (FModel->listed() == 0) return;  // nothing stored
  // Only listed rows name a frame; the empty bottom row is a miss. A row
  // keeps its frame's own number under a display filter.
  const uint32_t number = FModel->NumberAt(ARow - 1);
  if (number == 0 || !FFrames.Lookup(number)) return;
  std::vector<uint8_t> frame;
  std::string why;
  if (FFrames.ReadFrame(FFrames.Current(), frame, &why)) {
    FViews->ShowFrame(frame);  // the dumps, then the tree
    return;
  }
  // The file changed under the window: nothing of the frame is shown, and the
  // user is told once why.
  FViews->ShowNoFrame();
  if (FUnreadableReported) return;
  FUnreadableReported = true;
  netvane::NoticeBox(this, QStringLiteral("Frame %1 cannot be read: %2. The other frames stay listed.")
                               .arg(FFrames.Current())
                               .arg(QString::fromLocal8Bit(why.c_str())));
}

void TForm1::SaveClick() {
  if (FForm2 != nullptr) FForm2->ShowDialog();
}

void TForm1::AboutClick() {
  if (FForm3 != nullptr) FForm3->ShowAbout();
}
