#include "app/pictures.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace netvane {
namespace {

const QColor kDarkRed(128, 0, 0);
const QColor kLightViolet(204, 188, 240);

// Every picture is drawn on a 100 x 100 canvas and scaled, so all sizes match.
template <typename Draw>
QPixmap Paint(int size, const QColor& ground, Draw draw) {
  QPixmap pm(size, size);
  pm.fill(ground);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 100.0, size / 100.0);
  draw(p);
  return pm;
}

// A shaded ball: discs shrinking toward a highlight up and to the left, each a
// little lighter. Drawn disc by disc rather than with a gradient brush, whose
// fill Qt spreads over its own thread pool.
void Ball(QPainter& p, QPointF centre, qreal radius, const QColor& colour) {
  constexpr int kSteps = 24;
  const QPointF highlight = centre - QPointF(radius / 3, radius / 3);
  p.setPen(Qt::NoPen);
  for (int i = 0; i < kSteps; ++i) {
    const qreal t = qreal(i) / kSteps;  // 0 = outer rim, towards 1 = highlight
    const QColor c = t < 0.5 ? colour.darker(int(170 - 140 * t)) : colour.lighter(int(100 + 180 * (t - 0.5)));
    p.setBrush(c);
    const qreal r = radius * (1 - t * 0.85);
    p.drawEllipse(centre + (highlight - centre) * t, r, r);
  }
}

}  // namespace

QPixmap AppIconPixmap(int size) {
  return Paint(size, QColor(0, 140, 60), [](QPainter& p) {
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(30, 60, 220), 12));
    p.drawEllipse(QPointF(50, 50), 38, 38);
    Ball(p, QPointF(50, 50), 22, QColor(220, 20, 20));
  });
}

QIcon AppIcon() {
  QIcon icon;
  for (int s : {16, 32, 48}) icon.addPixmap(AppIconPixmap(s));
  return icon;
}

QPixmap StartPicture(int size) {
  return Paint(size, kDarkRed, [](QPainter& p) {
    QPainterPath tri;
    tri.moveTo(28, 18);
    tri.lineTo(82, 50);
    tri.lineTo(28, 82);
    tri.closeSubpath();
    p.setPen(QPen(QColor(0, 90, 0), 3));
    p.setBrush(QColor(40, 210, 40));
    p.drawPath(tri);
  });
}

QPixmap PausePicture(int size) {
  return Paint(size, kDarkRed, [](QPainter& p) {
    p.setPen(QPen(QColor(0, 0, 110), 3));
    p.setBrush(QColor(50, 90, 240));
    p.drawRect(QRectF(24, 18, 18, 64));
    p.drawRect(QRectF(58, 18, 18, 64));
  });
}

QPixmap StopPicture(int size) {
  return Paint(size, kDarkRed, [](QPainter& p) { Ball(p, QPointF(50, 50), 32, QColor(240, 30, 30)); });
}

QPixmap SavePicture(int size) {
  return Paint(size, kLightViolet, [](QPainter& p) {
    // Body with a cut corner, metal shutter at the top, white label below.
    QPainterPath body;
    body.moveTo(14, 12);
    body.lineTo(76, 12);
    body.lineTo(88, 24);
    body.lineTo(88, 88);
    body.lineTo(14, 88);
    body.closeSubpath();
    p.setPen(QPen(QColor(10, 10, 40), 3));
    p.setBrush(QColor(40, 50, 110));
    p.drawPath(body);
    p.setBrush(QColor(200, 200, 210));
    p.drawRect(QRectF(30, 12, 38, 26));
    p.setBrush(QColor(40, 50, 110));
    p.drawRect(QRectF(54, 16, 8, 18));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(24, 50, 54, 38));
    p.setPen(QPen(QColor(120, 120, 160), 3));
    for (int y : {60, 70, 80}) p.drawLine(QPointF(30, y), QPointF(72, y));
  });
}

}  // namespace netvane
