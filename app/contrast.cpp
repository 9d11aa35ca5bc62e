#include "app/contrast.h"

#include <algorithm>
#include <cmath>

#include <QWidget>

namespace netvane {
namespace {

double Linear(int channel) {
  const double c = channel / 255.0;
  return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double Luminance(const QColor& c) {
  const QColor rgb = c.toRgb();
  return 0.2126 * Linear(rgb.red()) + 0.7152 * Linear(rgb.green()) + 0.0722 * Linear(rgb.blue());
}

}  // namespace

QColor Blend(const QColor& from, const QColor& to, double t) {
  auto channel = [t](int a, int b) { return static_cast<int>(std::lround(a + (b - a) * t)); };
  const QColor f = from.toRgb();
  const QColor g = to.toRgb();
  return QColor(channel(f.red(), g.red()), channel(f.green(), g.green()), channel(f.blue(), g.blue()));
}

double ContrastRatio(const QColor& a, const QColor& b) {
  const double la = Luminance(a);
  const double lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor Readable(const QColor& wanted, const QColor& background, double minimum, double target) {
  if (ContrastRatio(wanted, background) >= minimum) return wanted.toRgb();
  const QColor black(0, 0, 0);
  const QColor white(255, 255, 255);
  const QColor extreme = ContrastRatio(black, background) >= ContrastRatio(white, background) ? black : white;
  constexpr int kSteps = 256;
  for (int i = 1; i < kSteps; ++i) {
    const QColor c = Blend(wanted, extreme, static_cast<double>(i) / kSteps);
    if (ContrastRatio(c, background) >= std::max(minimum, target)) return c;
  }
  // Every background reaches at least 4.58:1 with black or with white.
  return extreme;
}

QPalette ReadablePalette(QPalette palette) {
  struct Pair {
    QPalette::ColorRole text, background;
  };
  constexpr Pair kPairs[] = {{QPalette::Text, QPalette::Base},
                             {QPalette::WindowText, QPalette::Window},
                             {QPalette::ButtonText, QPalette::Button},
                             {QPalette::ToolTipText, QPalette::ToolTipBase}};
  // Disabled text is meant to recede; it is left as the desktop draws it.
  for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
    for (const Pair& p : kPairs) {
      palette.setColor(group, p.text,
                       Readable(palette.color(group, p.text), palette.color(group, p.background)));
    }
    palette.setColor(
        group, QPalette::Highlight,
        Readable(palette.color(group, QPalette::Highlight), palette.color(group, QPalette::HighlightedText)));
  }
  return palette;
}

void SetColours(QWidget* w, std::initializer_list<QPalette::ColorRole> grounds, const QColor& ground,
                std::initializer_list<QPalette::ColorRole> texts, const QColor& text) {
  QPalette p = w->palette();
  for (const QPalette::ColorRole r : grounds) p.setColor(r, ground);
  for (const QPalette::ColorRole r : texts) p.setColor(r, text);
  w->setPalette(p);
}

}  // namespace netvane
