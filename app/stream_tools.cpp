#include "app/stream_tools.h"

#include <QAction>
#include <QMessageBox>

#include "app/Form1.h"
#include "app/conversations_window.h"
#include "app/display_filter.h"
#include "app/follow_window.h"
#include "app/packet_list_model.h"
#include "app/window_action.h"
#include "decode/transport_headers.h"

TStreamTools::TStreamTools(TForm1* window) : QObject(window), FWindow(window) {
  ConversationsAction = WindowAction(window, "ConversationsAction", "Conversations...",
                                     QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));
  FollowAction = WindowAction(window, "FollowTcpStreamAction", "Follow TCP stream",
                              QKeySequence(Qt::CTRL | Qt::ALT | Qt::SHIFT | Qt::Key_T));
  connect(ConversationsAction, &QAction::triggered, this, &TStreamTools::ConversationsClick);
  connect(FollowAction, &QAction::triggered, this, &TStreamTools::FollowClick);
  auto* separator = new QAction(this);
  separator->setSeparator(true);
  window->Packets->addAction(separator);
  window->Packets->addAction(ConversationsAction);
  window->Packets->addAction(FollowAction);
}

TConversationsWindow* TStreamTools::conversations() const {
  return static_cast<TConversationsWindow*>(FConversations.data());
}

void TStreamTools::ConversationsClick() {
  if (FConversations.isNull()) {
    auto* w = new TConversationsWindow(FWindow);
    w->setAttribute(Qt::WA_DeleteOnClose);
    FConversations = w;
  }
  TConversationsWindow* w = conversations();
  w->show();
  w->raise();
  w->activateWindow();
}

void TStreamTools::FollowClick() {
  const uint32_t number = FWindow->packetModel()->NumberAt(FWindow->Packets->currentIndex().row());
  if (number == 0) return;
  if (FollowFrame(number) == nullptr)
    QMessageBox::information(FWindow, QStringLiteral("Follow TCP stream"),
                             QStringLiteral("Frame %1 is no TCP segment.").arg(number));
}

TFollowWindow* TStreamTools::FollowFrame(uint32_t number) {
  const std::vector<uint8_t> bytes = FWindow->frames().Frame(number);
  const netvane::TransportHeaders h = netvane::DecodeTransportHeaders(bytes);
  netvane::TcpPair pair;
  if (!netvane::TcpPairOf(h, pair)) return nullptr;
  auto* follow = new TFollowWindow(FWindow, TFollowWindow::Target{0, number, nullptr});
  follow->show();
  return follow;
}

TFollowWindow* TStreamTools::FollowStream(uint32_t stream,
                                          std::shared_ptr<const netvane::FrameFilter> filter) {
  auto* follow = new TFollowWindow(FWindow, TFollowWindow::Target{stream, 0, std::move(filter)});
  follow->show();
  return follow;
}

void TStreamTools::ApplyDisplayFilter(const QString& expression) {
  QString error;
  if (FWindow->displayFilter()->Apply(expression, error)) return;
  QMessageBox::warning(FWindow, QStringLiteral("Display filter"),
                       QStringLiteral("\"%1\" is not a filter expression: %2.").arg(expression, error));
}
