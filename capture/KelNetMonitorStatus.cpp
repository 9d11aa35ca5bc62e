// The error and status channels, and the mailbox that carries them (and the
// packet-count line) from the worker thread to the user-interface thread.
#include "capture/KelNetMonitor.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QStatusBar>

#include <charconv>
#include <cstring>

// --- errors ----------------------------------------------------------------------

void TKelNetMonitor::DNetError(const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(FErrorLock);
    FErrorText += text;
    ++FErrorCount;
  }
  User_Error();
}

void TKelNetMonitor::ClearErrors() {
  std::lock_guard<std::mutex> lock(FErrorLock);
  FErrorCount = 0;
  FErrorText.clear();
}

int TKelNetMonitor::errorCount() const {
  std::lock_guard<std::mutex> lock(FErrorLock);
  return FErrorCount;
}

std::string TKelNetMonitor::errorText() const {
  std::lock_guard<std::mutex> lock(FErrorLock);
  return FErrorText;
}

void TKelNetMonitor::User_Error() {
  std::string message;
  {
    // Taking the texts and clearing them is one step: when both threads raise
    // errors at once, each text is reported exactly once. A call that finds
    // nothing collected (the other thread reported it already) shows nothing.
    std::lock_guard<std::mutex> lock(FErrorLock);
    if (FErrorCount == 0) return;
    auto visible = [](char c) { return static_cast<unsigned char>(c) > 32; };
    size_t begin = 0;
    size_t end = FErrorText.size();
    while (begin < end && !visible(FErrorText[begin])) ++begin;
    while (end > begin && !visible(FErrorText[end - 1])) --end;
    message = "TKelNetMonitor Error: " + FErrorText.substr(begin, end - begin) + ".";
    FErrorCount = 0;
    FErrorText.clear();
  }
  User_StatusMessage(message);
  if (!ShowErrMsgBox.load()) return;
  auto showBox = [message] {
    QMessageBox box;
    box.setWindowTitle(QApplication::applicationName());
    box.setText(QString::fromStdString(message));
    box.setIcon(QMessageBox::NoIcon);
    box.setStandardButtons(QMessageBox::Ok);
    box.adjustSize();
    if (QScreen* screen = QGuiApplication::primaryScreen())
      box.move(screen->availableGeometry().center() - box.rect().center());
    box.exec();
  };
  // The box's event loop must not run while this thread holds the adapter
  // lock (a driver reports its reasons from inside its bind or filter): the
  // worker could not deliver until the user answered. It opens once the lock
  // is released.
  if (HoldsAdapter())
    QueueForUi(std::move(showBox));
  else
    PostToUi(std::move(showBox));
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
    std::lock_guard<std::mutex> lock(FHandlerLock);
    handler = OnStatusMessage;
  }
  if (handler) handler(this, mesg);
}

void TKelNetMonitor::SetPacketCountText(int32_t received, int32_t buffered) {
  if (!FHasStatusBar.load()) return;
  // Formatted without allocating: the worker writes this line for every frame.
  char text[96];
  char* p = std::to_chars(text, text + 16, received).ptr;
  static constexpr char mid[] = " packets received (";
  std::memcpy(p, mid, sizeof mid - 1);
  p += sizeof mid - 1;
  p = std::to_chars(p, p + 16, buffered).ptr;
  static constexpr char tail[] = " still buffered locally).";
  std::memcpy(p, tail, sizeof tail - 1);
  p += sizeof tail - 1;
  const size_t length = static_cast<size_t>(p - text);

  if (OnUiThread()) {
    if (QStatusBar* bar = FStatusBar.data())
      bar->showMessage(QString::fromLatin1(text, static_cast<qsizetype>(length)));
    return;
  }
  bool post = false;
  {
    // Only the newest count matters: a burst of frames leaves one line to show.
    std::lock_guard<std::mutex> lock(FMailboxLock);
    FPendingCountText.assign(text, length);
    FCountTextPending = true;
    if (!FFlushPosted) {
      FFlushPosted = true;
      post = true;
    }
  }
  if (post) QMetaObject::invokeMethod(this, "FlushUiWork", Qt::QueuedConnection);
}

// --- mailbox -------------------------------------------------------------------------

bool TKelNetMonitor::OnUiThread() const {
  return std::this_thread::get_id() == FUiThread;
}

void TKelNetMonitor::PostToUi(std::function<void()> work) {
  if (OnUiThread()) {
    work();
    return;
  }
  QueueForUi(std::move(work));
}

void TKelNetMonitor::QueueForUi(std::function<void()> work) {
  bool post = false;
  {
    std::lock_guard<std::mutex> lock(FMailboxLock);
    // A count line written before this work stays before it.
    if (FCountTextPending) {
      FMailbox.emplace_back([this, text = FPendingCountText] {
        if (QStatusBar* bar = FStatusBar.data()) bar->showMessage(QString::fromStdString(text));
      });
      FCountTextPending = false;
    }
    FMailbox.push_back(std::move(work));
    if (!FFlushPosted) {
      FFlushPosted = true;
      post = true;
    }
  }
  // The event carries no data; everything crossed through our own lock above.
  if (post) QMetaObject::invokeMethod(this, "FlushUiWork", Qt::QueuedConnection);
}

void TKelNetMonitor::FlushUiWork() {
  if (!OnUiThread()) return;
  if (FServing > 0 || HoldsAdapter()) {
    // Delivered while the UI thread waits for the worker or holds the adapter
    // lock: the work (a status line, a modal box) waits until that is over.
    FFlushDeferred = true;
    return;
  }
  std::deque<std::function<void()>> batch;
  std::string countText;
  bool hasCount = false;
  {
    std::lock_guard<std::mutex> lock(FMailboxLock);
    // A modal error box runs a nested event loop; a flush reached from there
    // leaves the work to the running one, which keeps the posting order.
    if (FFlushing) return;
    batch.swap(FMailbox);
    if (FCountTextPending) {
      countText.swap(FPendingCountText);
      FCountTextPending = false;
      hasCount = true;
    }
    FFlushing = true;
  }
  // A modal box's event loop may destroy the component (its window closes);
  // then nothing more of this batch may touch it.
  QPointer<TKelNetMonitor> self(this);
  for (size_t i = 0; i < batch.size(); ++i) {
    try {
      batch[i]();
    } catch (...) {
      // A host's handler threw; the exception goes on to the application's
      // report. What is left of the batch stays first in line, and the
      // hand-over stays open for it.
      if (self.isNull()) throw;
      {
        std::lock_guard<std::mutex> lock(FMailboxLock);
        for (size_t j = batch.size(); j > i + 1; --j) FMailbox.push_front(std::move(batch[j - 1]));
        if (hasCount && !FCountTextPending) {
          FPendingCountText.swap(countText);
          FCountTextPending = true;
        }
        FFlushing = false;
        FFlushPosted = true;
      }
      QMetaObject::invokeMethod(this, "FlushUiWork", Qt::QueuedConnection);
      throw;
    }
    if (self.isNull()) return;
  }
  if (hasCount)
    if (QStatusBar* bar = FStatusBar.data()) bar->showMessage(QString::fromStdString(countText));
  bool repost = false;
  {
    // Work posted while this batch ran gets an event of its own rather than a
    // loop here, so a worker that keeps posting cannot hold the UI thread.
    std::lock_guard<std::mutex> lock(FMailboxLock);
    FFlushing = false;
    repost = !FMailbox.empty() || FCountTextPending;
    FFlushPosted = repost;
  }
  if (repost) QMetaObject::invokeMethod(this, "FlushUiWork", Qt::QueuedConnection);
}
