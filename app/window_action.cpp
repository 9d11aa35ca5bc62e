#include "app/window_action.h"

#include <QAction>
#include <QKeySequence>
#include <QWidget>

QAction* WindowAction(QWidget* window, const char* name, const char* text, const QKeySequence& keys) {
  auto* action = new QAction(QString::fromLatin1(text), window);
  action->setObjectName(QString::fromLatin1(name));
  action->setShortcut(keys);
  action->setShortcutContext(Qt::WindowShortcut);
  window->addAction(action);
  return action;
}
