#include "app/fonts.h"

namespace netvane {
namespace {

QFont Make(const char* family, bool bold, QFont::StyleHint hint) {
  QFont f(QString::fromLatin1(family));
  f.setStyleHint(hint);
  f.setPixelSize(kFontPixels);
  f.setBold(bold);
  return f;
}

}  // namespace

QFont WindowFont(bool bold) {
  return Make(kWindowFamily, bold, QFont::SansSerif);
}

QFont DumpFont() {
  return Make(kDumpFamily, false, QFont::Monospace);
}

QColor ButtonFaceColour(const QPalette& p) {
  return p.color(QPalette::Active, QPalette::Window);
}

QColor WindowTextColour(const QPalette& p) {
  return p.color(QPalette::Active, QPalette::WindowText);
}

QColor ActiveCaptionColour(const QPalette& p) {
  return p.color(QPalette::Active, QPalette::Highlight);
}

QColor GradientActiveCaptionColour(const QPalette& p) {
  // The second colour of a caption gradient is a paler shade of the first:
  // a third of the highlight over the base colour.
  const QColor hi = p.color(QPalette::Active, QPalette::Highlight);
  const QColor base = p.color(QPalette::Active, QPalette::Base);
  auto mix = [](int a, int b) { return (a + 2 * b) / 3; };
  return QColor(mix(hi.red(), base.red()), mix(hi.green(), base.green()), mix(hi.blue(), base.blue()));
}

QColor TooltipBackgroundColour(const QPalette& p) {
  return p.color(QPalette::Active, QPalette::ToolTipBase);
}

}  // namespace netvane
