#pragma once
// The packet list's grid. Two things differ from a plain table view:
//   - a press on the cell that is already current is reported, since the
//     row may have been the empty bottom row when it was first clicked and
//     hold a frame now (the current cell does not change, so no
//     current-changed signal tells of it);
//   - taking the focus makes no cell current: tabbing into the list must not
//     select frame 1 and move the entry that a binary save writes.

#include <QTableView>

class TPacketGrid : public QTableView {
  Q_OBJECT
 public:
  using QTableView::QTableView;

 signals:
  void currentCellPressed(const QModelIndex& index);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
};
