#pragma once
// The packet list's way to conversations and streams: "Conversations..."
// (Ctrl+Shift+C) opens the Conversations window (one, raised again when
// asked again), "Follow TCP stream" (Ctrl+Alt+Shift+T) follows the stream of
// the selected TCP frame in a window of its own. Both windows apply display
// filters through here.

#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <memory>

class QAction;
class TConversationsWindow;
class TFollowWindow;
class TForm1;

namespace netvane {
class FrameFilter;
}

class TStreamTools : public QObject {
  Q_OBJECT
 public:
  explicit TStreamTools(TForm1* window);

  QAction* ConversationsAction = nullptr;  // "Conversations...", Ctrl+Shift+C
  QAction* FollowAction = nullptr;         // "Follow TCP stream", Ctrl+Alt+Shift+T

  void ConversationsClick();
  void FollowClick();
  // Follows TCP stream `stream` as numbered among the frames `filter` takes
  // (all when null); returns the window.
  TFollowWindow* FollowStream(uint32_t stream, std::shared_ptr<const netvane::FrameFilter> filter);
  // Follows the stream of frame `number`; null when it is no TCP frame.
  TFollowWindow* FollowFrame(uint32_t number);
  // Applies `expression` as the display filter; a box says when it fails.
  void ApplyDisplayFilter(const QString& expression);

  // For tests: the Conversations window, once opened.
  TConversationsWindow* conversations() const;

 private:
  TForm1* FWindow;
  QPointer<QObject> FConversations;  // a TConversationsWindow
};
