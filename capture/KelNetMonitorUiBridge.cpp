// The error and status channels, and the bridge to the user-interface
// thread: work posted to it, the nesting of calls that wait there, error boxes.
#include "capture/KelNetMonitor.h"

#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QStatusBar>

#include <charconv>
#include <cstring>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#define NETVANE_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#include <sanitizer/tsan_interface.h>
#define NETVANE_TSAN 1
#endif
#endif

namespace {

// Work handed to the UI thread: an event posted to the component, which
// runs it (TKelNetMonitor::event). Error boxes have a type of their own, so
// that a call can deliver the rest without opening them.
class UiWork final : public QEvent {
 public:
  UiWork(std::function<void()> w, bool box) : QEvent(Type(box)), work(std::move(w)) {}
  static QEvent::Type Type(bool box) {
    static const auto work = static_cast<QEvent::Type>(QEvent::registerEventType());
    static const auto boxes = static_cast<QEvent::Type>(QEvent::registerEventType());
    return box ? boxes : work;
  }
  std::function<void()> work;
};

}  // namespace

// --- errors ----------------------------------------------------------------------

void TKelNetMonitor::DNetError(const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(FStateLock);
    FErrorText += text;
    ++FErrorCount;
  }
  User_Error();
}

void TKelNetMonitor::ClearErrors() {
  std::lock_guard<std::mutex> lock(FStateLock);
  FErrorCount = 0;
  FErrorText.clear();
}

int TKelNetMonitor::errorCount() const {
  std::lock_guard<std::mutex> lock(FStateLock);
  return FErrorCount;
}

std::string TKelNetMonitor::errorText() const {
  std::lock_guard<std::mutex> lock(FStateLock);
  return FErrorText;
}

std::string TKelNetMonitor::TakeErrors() {
  // Taking the texts and clearing them is one step: when both threads raise
  // errors at once, each text is reported exactly once. A call that finds
  // nothing collected (the other thread reported it already) gets nothing.
  std::lock_guard<std::mutex> lock(FStateLock);
  if (FErrorCount == 0) return std::string();
  auto visible = [](char c) { return static_cast<unsigned char>(c) > 32; };
  size_t begin = 0;
  size_t end = FErrorText.size();
  while (begin < end && !visible(FErrorText[begin])) ++begin;
  while (end > begin && !visible(FErrorText[end - 1])) --end;
  std::string text = FErrorText.substr(begin, end - begin) + ".";
  FErrorCount = 0;
  FErrorText.clear();
  return text;
}

void TKelNetMonitor::User_Error() {
  const std::string text = TakeErrors();
  if (text.empty()) return;
  const std::string message = "TKelNetMonitor Error: " + text;
  User_StatusMessage(message);
  if (!ShowErrMsgBox.load()) return;
  if (OnUiThread())
    ShowErrorBox(message);
  else
    PostToUi([this, message] { ShowErrorBox(message); }, true);
}

void TKelNetMonitor::ShowErrorBox(const std::string& message) {
  FBoxesWaiting.push_back(message);
  ShowWaitingBoxes();
}

void TKelNetMonitor::ShowWaitingBoxes() {
  // One box at a time, and none inside a call of the component, whose event
  // loop would run the host's code half-way through it: a box waits for them
  // to end (LeaveCall).
  if (FBoxOpen || FInCall > 0) return;
  FBoxOpen = true;
  // A box's event loop may destroy the component (its window closes); then
  // nothing more may touch it.
  QPointer<TKelNetMonitor> self(this);
  struct Closed {
    QPointer<TKelNetMonitor>& self;
    ~Closed() {
      if (self) self->FBoxOpen = false;
    }
  } closed{self};
  while (!FBoxesWaiting.empty()) {
    QMessageBox box;
    box.setWindowTitle(QApplication::applicationName());
    box.setText(QString::fromStdString(FBoxesWaiting.front()));
    FBoxesWaiting.pop_front();
    box.setIcon(QMessageBox::NoIcon);
    box.setStandardButtons(QMessageBox::Ok);
    box.adjustSize();
    if (QScreen* screen = QGuiApplication::primaryScreen())
      box.move(screen->availableGeometry().center() - box.rect().center());
    box.exec();
    if (self.isNull()) return;
  }
}

void TKelNetMonitor::EnterCall() {
  if (OnUiThread()) ++FInCall;
}

void TKelNetMonitor::LeaveCall(bool deliver) {
  if (!OnUiThread() || --FInCall > 0) return;
  // What the worker handed over while the call ran comes before the call
  // returns, in order; boxes wait for the event loop.
  if (deliver) QCoreApplication::sendPostedEvents(this, UiWork::Type(false));
  if (!FBoxesWaiting.empty() && !FBoxOpen) PostToUi([this] { ShowWaitingBoxes(); }, true);
}

// --- status ------------------------------------------------------------------------

void TKelNetMonitor::User_StatusMessage(const std::string& mesg) {
  if (!OnUiThread()) {
    // The status bar and the host's handler belong to the UI thread.
    PostToUi([this, mesg] { User_StatusMessage(mesg); });
    return;
  }
  if (QStatusBar* bar = FStatusBar.data()) bar->showMessage(QString::fromStdString(mesg));
  TStatusMessageEvent handler;
  {
    std::lock_guard<std::mutex> lock(FStateLock);
    handler = OnStatusMessage;
  }
  if (handler) handler(this, mesg);
}

void TKelNetMonitor::SetPacketCountText(int32_t received, int32_t buffered) {
  if (!FHasStatusBar.load()) return;
  if (!OnUiThread()) {
    // One queued call at a time, which shows the counts as they are when it
    // runs: a burst of frames leaves one line to show, not one per frame.
    if (!FCountLinePosted.exchange(true))
      PostToUi([this] {
        FCountLinePosted.store(false);
        SetPacketCountText(FReceived.load(), FPacketCount.load());
      });
    return;
  }
  QStatusBar* bar = FStatusBar.data();
  if (bar == nullptr) return;
  char text[96];
  char* p = std::to_chars(text, text + 16, received).ptr;
  static constexpr char mid[] = " packets received (";
  std::memcpy(p, mid, sizeof mid - 1);
  p += sizeof mid - 1;
  p = std::to_chars(p, p + 16, buffered).ptr;
  static constexpr char tail[] = " still buffered locally).";
  std::memcpy(p, tail, sizeof tail - 1);
  p += sizeof tail - 1;
  bar->showMessage(QString::fromLatin1(text, static_cast<qsizetype>(p - text)));
}

// --- the UI thread --------------------------------------------------------------------

bool TKelNetMonitor::OnUiThread() const {
  return std::this_thread::get_id() == FUiThread;
}

bool TKelNetMonitor::ServesUi() const {
  return OnUiThread() && QCoreApplication::instance() != nullptr;
}

void TKelNetMonitor::PostToUi(std::function<void()> work, bool box) {
  auto* event = new UiWork(std::move(work), box);
  // Qt's queue hands the event over under a lock of its own, which the thread
  // sanitizer cannot see (Qt is not built with it): it is told here.
#ifdef NETVANE_TSAN
  __tsan_release(event);
#endif
  QCoreApplication::postEvent(this, event);
}

bool TKelNetMonitor::event(QEvent* e) {
  if (e->type() != UiWork::Type(false) && e->type() != UiWork::Type(true)) return QObject::event(e);
#ifdef NETVANE_TSAN
  __tsan_acquire(e);
#endif
  static_cast<UiWork*>(e)->work();
  return true;
}
