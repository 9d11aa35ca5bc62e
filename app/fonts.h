#pragma once
// The two type faces of the windows and the system colours they name, mapped
// onto what a Debian desktop has and onto Qt's palette roles.

#include <QColor>
#include <QFont>
#include <QPalette>

namespace netvane {

// The window font: a proportional sans serif, 8 point. Set as 11 pixels so
// that the fixed pixel layout does not depend on the screen's DPI.
QFont WindowFont(bool bold = false);
// The dump font: a fixed-pitch face of the same size.
QFont DumpFont();

inline constexpr const char* kWindowFamily = "DejaVu Sans";
inline constexpr const char* kDumpFamily = "DejaVu Sans Mono";
inline constexpr int kFontPixels = 11;

// System colours used by the layout, taken from the given palette.
QColor ButtonFaceColour(const QPalette& p);             // Window
QColor WindowTextColour(const QPalette& p);             // WindowText
QColor ActiveCaptionColour(const QPalette& p);          // Highlight
QColor GradientActiveCaptionColour(const QPalette& p);  // Highlight blended into Base
QColor TooltipBackgroundColour(const QPalette& p);      // ToolTipBase

}  // namespace netvane
