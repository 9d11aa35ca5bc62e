#pragma once
// The windows' message boxes: standard QMessageBox boxes over a window, with
// the application's title unless the box has one of its own.

#include <QMessageBox>
#include <QString>

namespace netvane {

// A modal box with one OK button. `title` empty: the application's title.
void TellBox(QWidget* parent, QMessageBox::Icon icon, const QString& text, const QString& title = {});

// A modal question with the application's title: the button it was answered
// with (Escape: `escapeButton`; NoButton when it was closed otherwise).
QMessageBox::StandardButton AskBox(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                   QMessageBox::StandardButtons buttons,
                                   QMessageBox::StandardButton defaultButton,
                                   QMessageBox::StandardButton escapeButton);

// A warning with one OK button that is not modal: shown at once, and `parent`
// goes on behind it (a capture, the list, selection, saving). It deletes
// itself when closed.
void NoticeBox(QWidget* parent, const QString& text);

}  // namespace netvane
