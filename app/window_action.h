#pragma once
// Actions of a window whose shortcuts work anywhere in it.

class QAction;
class QKeySequence;
class QWidget;

// An action of `window` whose shortcut works anywhere in it; `name` becomes
// its object name. Added to a widget as well (the packet list), it is in that
// widget's context menu.
QAction* WindowAction(QWidget* window, const char* name, const char* text, const QKeySequence& keys);
