#include "app/packet_grid.h"

#include <QMouseEvent>

void TPacketGrid::mousePressEvent(QMouseEvent* event) {
  const QModelIndex before = currentIndex();
  QTableView::mousePressEvent(event);
  const QModelIndex at = indexAt(event->position().toPoint());
  // A press on another cell has already been told through currentChanged.
  if (at.isValid() && at == before && at == currentIndex()) emit currentCellPressed(at);
}

void TPacketGrid::focusInEvent(QFocusEvent* event) {
  // The item view would make the first cell current here; the scroll area's
  // handling and a repaint of the focus frame are all the grid needs.
  QAbstractScrollArea::focusInEvent(event);
  viewport()->update();
}
