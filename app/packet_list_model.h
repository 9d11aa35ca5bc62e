#pragma once
// The packet list as a table model over the frame list. Cells are computed from
// the frames' first bytes, read when a view asks for them, so nothing per frame
// is kept here: a million listed frames cost the frame list's entries and
// nothing more. The row read last is kept, since a view asks for its cells one
// after another.
//
// Model row i shows entry i + 1; one empty row always follows the last listed
// frame. The header row's texts are the section headers.

#include <QAbstractTableModel>

#include <cstdint>
#include <vector>

namespace netvane {
class FrameList;
}

class TPacketListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  TPacketListModel(netvane::FrameList& frames, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  // Frames listed so far (the number of the last listed entry).
  uint32_t listed() const { return FListed; }
  // Lists entries up to `count` of the frame list in one batch. The rows are
  // added below the empty row and the old empty row takes the first new frame,
  // so the selected cell and the scroll position stay where they are. Returns
  // true when rows were added.
  bool ListUpTo(uint32_t count);
  // Empties the frame list and the list: one empty row remains.
  void ClearFrames();

 private:
  netvane::FrameList& FFrames;
  uint32_t FListed = 0;  // rows below FListed show frames
  int FRows = 1;         // rows in the view: the listed frames and the empty row
  // The first bytes of the frame read last (0: none).
  mutable uint32_t FCachedNumber = 0;
  mutable std::vector<uint8_t> FCached;
};
