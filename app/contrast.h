#pragma once
// Text that reads on its background whatever the desktop's colours: the
// contrast ratio of two colours (from their relative luminance, as WCAG
// measures it) and the nearest colour to a wanted one that reaches a ratio.

#include <QColor>
#include <QPalette>

#include <initializer_list>

class QWidget;

namespace netvane {

inline constexpr double kMinimumContrast = 4.5;
inline constexpr double kAdjustedContrast = 7.0;

// The colour a fraction t (0 to 1) of the way from `from` to `to`.
QColor Blend(const QColor& from, const QColor& to, double t);

// From 1 (the same luminance) to 21 (black on white); symmetric.
double ContrastRatio(const QColor& a, const QColor& b);

// `wanted` itself when it reaches `minimum` against `background`. Otherwise
// the first colour on the straight way from `wanted` to black or to white
// (whichever stands out more against the background) that reaches `target`,
// or that extreme where `target` is out of reach. The target lies above the
// minimum so that the thin, anti-aliased strokes of small text, which never
// show their full colour, still reach the minimum on the screen.
QColor Readable(const QColor& wanted, const QColor& background, double minimum = kMinimumContrast,
                double target = kAdjustedContrast);

// The same colours with every text role readable on the background it is
// drawn on (text on base, window text on window, button text on button, tool
// tip text on its base), in every colour group but the disabled one. The
// selection keeps its text colour and has its background deepened instead, so
// a selected line still looks selected.
QPalette ReadablePalette(QPalette palette);

// Gives the widget a ground of the layout's and a text colour that reads on
// it, in every colour group, for the roles the widget paints with.
void SetColours(QWidget* w, std::initializer_list<QPalette::ColorRole> grounds, const QColor& ground,
                std::initializer_list<QPalette::ColorRole> texts, const QColor& text);

}  // namespace netvane
