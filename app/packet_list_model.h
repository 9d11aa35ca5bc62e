#pragma once
// The packet list as a table model over the frame list. Cells are computed from
// the frames' first bytes, read when a view asks for them, so nothing per frame
// is kept here: a million listed frames cost the frame list's entries and
// nothing more. The row read last is kept, since a view asks for its cells one
// after another.
//
// Model row i shows entry i + 1, or, while a display filter is on, the i-th
// frame it lets through (shown_frames.h), with its own number; one empty row
// always follows the last listed frame. The header row's texts are the
// section headers. A row's tool tip gives its frame's time stamp and lengths.

#include <QAbstractTableModel>

#include <cstdint>
#include <vector>

namespace netvane {
class FrameList;
}
class TShownFrames;

class TPacketListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  TPacketListModel(netvane::FrameList& frames, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  // Rows that show a frame (without a filter, the number of the last listed entry).
  uint32_t listed() const { return FListed; }
  // The newest frame the rows account for: every frame up to it that the
  // filter lets through has its row (without a filter, listed()).
  uint32_t covered() const { return FShown ? FCovered : FListed; }
  // The frame of row `row`; 0 for the empty row.
  uint32_t NumberAt(int row) const;
  // The row of frame `number`; -1 when it is not listed.
  int RowOf(uint32_t number) const;
  // Whether a filter decides the rows.
  bool filtered() const { return FShown != nullptr; }

  // Lists entries up to `count` of the frame list in one batch. The rows are
  // added below the empty row and the old empty row takes the first new frame,
  // so the selected cell and the scroll position stay where they are. Returns
  // true when rows were added; while a filter decides the rows, nothing.
  bool ListUpTo(uint32_t count);
  // Empties the frame list and the list (and the shown frames): one empty row remains.
  void ClearFrames();

  // From now on the rows are the frames of `shown`, which starts empty and
  // grows through ListShown, or (nullptr) every frame up to `count`. `shown`
  // outlives its use here.
  void ShowOnly(TShownFrames* shown, uint32_t count = 0);
  // A filter's rows grew: lists the frames `shown` holds now, which account
  // for every frame up to `covered`, in one batch as ListUpTo does.
  bool ListShown(uint32_t covered);

 private:
  // Adds rows up to `listed` below the empty row.
  bool Grow(uint32_t listed);
  QString ToolTip(uint32_t number) const;

  netvane::FrameList& FFrames;
  TShownFrames* FShown = nullptr;  // null: row i is frame i + 1
  uint32_t FListed = 0;            // rows below FListed show frames
  uint32_t FCovered = 0;           // with a filter: see covered()
  int FRows = 1;                   // rows in the view: the listed frames and the empty row
  // The first bytes of the frame read last (0: none).
  mutable uint32_t FCachedNumber = 0;
  mutable std::vector<uint8_t> FCached;
};
