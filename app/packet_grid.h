#pragma once
// The packet list's grid. It sets itself up as the layout has it: fonts,
// selection, fixed row heights, the header row, colours. Two things differ
// from a plain table view:
//   - a press on the cell that is already current is reported, since the
//     row may have been the empty bottom row when it was first clicked and
//     hold a frame now (the current cell does not change, so no
//     current-changed signal tells of it);
//   - taking the focus makes no cell current: tabbing into the list must not
//     select frame 1 and move the entry that a binary save writes.
// Its context menu offers the actions added to it (the window's open and
// save of whole captures, go to and find).

#include <QTableView>

class QAbstractItemModel;

class TPacketGrid : public QTableView {
  Q_OBJECT
 public:
  // `system` holds the desktop's colours, whatever the grid's own palette holds.
  TPacketGrid(QAbstractItemModel* model, const QPalette& system, QWidget* parent);

 signals:
  void currentCellPressed(const QModelIndex& index);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void SetUpHeader(const QPalette& system);
};
