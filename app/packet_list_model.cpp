#include "app/packet_list_model.h"

#include "app/shown_frames.h"
#include "decode/packet_row.h"
#include "pcapfile/frame_list.h"

#include <algorithm>
#include <climits>
#include <ctime>

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
  if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
  const uint32_t row = static_cast<uint32_t>(index.row());
  if (row >= FListed || index.column() < 0 || index.column() >= netvane::kColumnCount)
    return role == Qt::DisplayRole ? QVariant(QString()) : QVariant();  // the empty bottom row
  const uint32_t number = FShown ? FShown->At(row) : row + 1;
  if (role == Qt::ToolTipRole) return ToolTip(number);
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

QString TPacketListModel::ToolTip(uint32_t number) const {
  const netvane::CaptureStamp stamp = FFrames.Stamp(number);
  std::vector<uint8_t> bytes;
  if (stamp.seconds == 0 && stamp.microseconds == 0 && stamp.wireLength == 0) return {};
  if (!FFrames.ReadFrame(number, bytes)) return {};
  // Local date and time to the microsecond, as tcpdump -tttt writes it.
  const time_t seconds = static_cast<time_t>(stamp.seconds);
  struct tm local {};
  char when[64] = "";
  if (localtime_r(&seconds, &local) != nullptr) std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
  return QStringLiteral("Frame %1\n%2.%3\n%4 bytes on the wire, %5 captured")
      .arg(number)
      .arg(QString::fromLatin1(when))
      .arg(stamp.microseconds, 6, 10, QLatin1Char('0'))
      .arg(stamp.wireLength)
      .arg(bytes.size());
}

uint32_t TPacketListModel::NumberAt(int row) const {
  if (row < 0 || static_cast<uint32_t>(row) >= FListed) return 0;
  return FShown ? FShown->At(static_cast<uint32_t>(row)) : static_cast<uint32_t>(row) + 1;
}

int TPacketListModel::RowOf(uint32_t number) const {
  if (number == 0) return -1;
  if (FShown == nullptr) return number <= FListed ? static_cast<int>(number - 1) : -1;
  const int64_t row = FShown->RowOf(number);
  return row >= 0 && row < FListed ? static_cast<int>(row) : -1;
}

bool TPacketListModel::ListUpTo(uint32_t count) {
  if (FShown != nullptr) return false;
  return Grow(count);
}

bool TPacketListModel::ListShown(uint32_t covered) {
  if (FShown == nullptr) return false;
  FCovered = std::max(FCovered, covered);
  return Grow(FShown->size());
}

void TPacketListModel::ShowOnly(TShownFrames* shown, uint32_t count) {
  beginResetModel();
  FShown = shown;
  FCachedNumber = 0;
  FListed = shown ? 0 : std::min<uint32_t>(count, INT_MAX - 1);
  FCovered = 0;
  FRows = static_cast<int>(FListed) + 1;
  endResetModel();
}

bool TPacketListModel::Grow(uint32_t count) {
  // A view counts rows in int; one row is kept for the empty bottom row.
  count = std::min<uint32_t>(count, INT_MAX - 1);
  if (count <= FListed) return false;
  const int oldEmpty = static_cast<int>(FListed);
  // The empty row takes the first new frame in place...
  FListed = count;
  emit dataChanged(index(oldEmpty, 0), index(oldEmpty, netvane::kColumnCount - 1),
                   {Qt::DisplayRole, Qt::ToolTipRole});
  // ...and the rest, with a new empty row, go below it.
  beginInsertRows(QModelIndex(), oldEmpty + 1, static_cast<int>(count));
  FRows = static_cast<int>(count) + 1;
  endInsertRows();
  return true;
}

void TPacketListModel::ClearFrames() {
  beginResetModel();
  FFrames.Clear();
  if (FShown) FShown->Clear();
  FCachedNumber = 0;
  FListed = 0;
  FCovered = 0;
  FRows = 1;
  endResetModel();
}
