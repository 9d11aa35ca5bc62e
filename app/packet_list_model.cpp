#include "app/packet_list_model.h"

#include "decode/packet_row.h"
#include "pcapfile/frame_list.h"

#include <algorithm>
#include <climits>

TPacketListModel::TPacketListModel(netvane::FrameList& frames, QObject* parent)
    : QAbstractTableModel(parent), FFrames(frames) {}

int TPacketListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : FRows;
}

int TPacketListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : netvane::kColumnCount;
}

QVariant TPacketListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.parent().isValid()) return {};
  if (role != Qt::DisplayRole) return {};
  const uint32_t row = static_cast<uint32_t>(index.row());
  if (row >= FListed || index.column() < 0 || index.column() >= netvane::kColumnCount)
    return QString();  // the empty bottom row
  const uint32_t number = row + 1;
  if (FCachedNumber != number) {
    // A frame that cannot be read shows empty cells.
    FFrames.ReadFrame(number, FCached, nullptr, netvane::kRowBytes);
    FCachedNumber = number;
  }
  const std::string cell = netvane::RowCell(FCached, number, index.column());
  // Texts are 8-bit.
  return QString::fromLatin1(cell.data(), static_cast<qsizetype>(cell.size()));
}

QVariant TPacketListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Horizontal) {
    if (section < 0 || section >= netvane::kColumnCount) return {};
    return QString::fromLatin1(netvane::kColumnHeaders[static_cast<size_t>(section)]);
  }
  return QString();  // no fixed column
}

Qt::ItemFlags TPacketListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

bool TPacketListModel::ListUpTo(uint32_t count) {
  // A view counts rows in int; one row is kept for the empty bottom row.
  count = std::min<uint32_t>(count, INT_MAX - 1);
  if (count <= FListed) return false;
  const int oldEmpty = static_cast<int>(FListed);
  // The empty row takes the first new frame in place...
  FListed = count;
  emit dataChanged(index(oldEmpty, 0), index(oldEmpty, netvane::kColumnCount - 1), {Qt::DisplayRole});
  // ...and the rest, with a new empty row, go below it.
  beginInsertRows(QModelIndex(), oldEmpty + 1, static_cast<int>(count));
  FRows = static_cast<int>(count) + 1;
  endInsertRows();
  return true;
}

void TPacketListModel::ClearFrames() {
  beginResetModel();
  FFrames.Clear();
  FCachedNumber = 0;
  FListed = 0;
  FRows = 1;
  endResetModel();
}
