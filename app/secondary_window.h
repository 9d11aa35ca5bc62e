#pragma once
// What every window besides the main one sets up alike.

#include <QString>

class QWidget;

namespace netvane {

// Title, the program's icon and the window font (11 pixels, so the fixed
// pixel layout holds on any screen). Closing such a window, or keeping it
// hidden, never decides whether the program ends.
void SetUpSecondaryWindow(QWidget* window, const QString& title);

}  // namespace netvane
