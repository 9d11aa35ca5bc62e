#include "app/conversations_window.h"

#include <QAction>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QSortFilterProxyModel>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include <cinttypes>
#include <cmath>
#include <cstdio>

#include "app/Form1.h"
#include "app/conversation_text.h"
#include "app/display_filter.h"
#include "app/packet_list_model.h"
#include "app/secondary_window.h"
#include "app/stream_tools.h"

using netvane::Conversation;
using netvane::ConversationKind;
using netvane::kConversationKinds;

namespace {

constexpr const char* kTabNames[kConversationKinds] = {"Ethernet", "IPv4", "IPv6", "TCP", "UDP"};
// The tabs' texts, with Alt+E, 4, 6, T and U.
constexpr const char* kTabTexts[kConversationKinds] = {"&Ethernet", "IPv&4", "IPv&6", "&TCP", "&UDP"};
constexpr const char* kColumns[] = {"Address A", "Port A",     "Address B",  "Port B",     "Frames",
                                    "Bytes",     "Frames A→B", "Bytes A→B",  "Frames B→A", "Bytes B→A",
                                    "Rel start", "Duration",   "Bits/s A→B", "Bits/s B→A"};
constexpr int kColumnCount = sizeof kColumns / sizeof kColumns[0];
// How often the window looks for frames while no walk runs (after a clear).
constexpr int kLookForFramesMs = 250;

QString Seconds(int64_t micros) {
  char text[40];
  const uint64_t magnitude = micros < 0 ? 0 - static_cast<uint64_t>(micros) : static_cast<uint64_t>(micros);
  std::snprintf(text, sizeof text, "%s%" PRIu64 ".%06" PRIu64, micros < 0 ? "-" : "", magnitude / 1000000,
                magnitude % 1000000);
  return QString::fromLatin1(text);
}

QByteArray AddressKey(const netvane::ConversationEndpoint& e) {
  return QByteArray(reinterpret_cast<const char*>(e.address.data()), e.addressLength);
}

}  // namespace

// One tab's rows. Display texts as netvane-dump --conversations writes them;
// Qt::UserRole gives each cell's value for sorting: numbers as numbers,
// addresses as their bytes.
class TConversationModel : public QAbstractTableModel {
 public:
  TConversationModel(ConversationKind kind, QObject* parent) : QAbstractTableModel(parent), FKind(kind) {}

  int rowCount(const QModelIndex& parent = QModelIndex()) const override {
    return parent.isValid() ? 0 : static_cast<int>(FRows.size());
  }
  int columnCount(const QModelIndex& parent = QModelIndex()) const override {
    return parent.isValid() ? 0 : kColumnCount;
  }
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= kColumnCount)
      return {};
    return QString::fromUtf8(kColumns[section]);
  }
  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid() || index.row() >= static_cast<int>(FRows.size())) return {};
    const Conversation& c = FRows[static_cast<std::size_t>(index.row())];
    const bool sort = role == Qt::UserRole;
    if (!sort && role != Qt::DisplayRole) {
      if (role == Qt::TextAlignmentRole && index.column() != 0 && index.column() != 2)
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
      return {};
    }
    const auto port = [&](const netvane::ConversationEndpoint& e) -> QVariant {
      if (sort) return e.hasPort ? qlonglong(e.port) : qlonglong(-1);
      return e.hasPort ? QString::number(e.port) : QString();
    };
    const auto number = [&](uint64_t n) -> QVariant {
      return sort ? QVariant(qulonglong(n)) : QString::number(n);
    };
    const auto rate = [&](bool aToB) -> QVariant {
      double bits = 0;
      const bool known = c.BitsPerSecond(aToB, bits);
      if (sort) return known ? bits : -1.0;
      return known ? QString::number(static_cast<qulonglong>(std::llround(bits))) : QString();
    };
    switch (index.column()) {
      case 0:
        return sort ? QVariant(AddressKey(c.a)) : netvane::AddressText(c.a);
      case 1:
        return port(c.a);
      case 2:
        return sort ? QVariant(AddressKey(c.b)) : netvane::AddressText(c.b);
      case 3:
        return port(c.b);
      case 4:
        return number(c.frames());
      case 5:
        return number(c.bytes());
      case 6:
        return number(c.framesAToB);
      case 7:
        return number(c.bytesAToB);
      case 8:
        return number(c.framesBToA);
      case 9:
        return number(c.bytesBToA);
      case 10:
        return sort ? QVariant(qlonglong(c.firstMicros - FStart)) : Seconds(c.firstMicros - FStart);
      case 11:
        return sort ? QVariant(qlonglong(c.durationMicros())) : Seconds(c.durationMicros());
      case 12:
        return rate(true);
      case 13:
        return rate(false);
      default:
        return {};
    }
  }

  // New rows of the same table: rows only ever come after the old ones, so
  // the old ones change in place and the new ones are inserted, which keeps
  // the sorted view's selection and scroll position.
  void Update(std::vector<Conversation>& rows, int64_t start) {
    const std::size_t old = FRows.size();
    if (rows.size() < old || start != FStart) {
      beginResetModel();
      FRows.swap(rows);
      FStart = start;
      endResetModel();
      return;
    }
    const std::size_t now = rows.size();
    if (now > old) beginInsertRows(QModelIndex(), static_cast<int>(old), static_cast<int>(now) - 1);
    FRows.swap(rows);
    if (now > old) endInsertRows();
    if (old > 0) emit dataChanged(index(0, 0), index(static_cast<int>(old) - 1, kColumnCount - 1));
  }
  void Reset() {
    beginResetModel();
    FRows.clear();
    endResetModel();
  }
  const std::vector<Conversation>& rows() const { return FRows; }
  ConversationKind kind() const { return FKind; }

 private:
  const ConversationKind FKind;
  std::vector<Conversation> FRows;
  int64_t FStart = 0;
};

TConversationsWindow::TConversationsWindow(TForm1* window)
    : QWidget(window, Qt::Window), FWindow(window), FTable(std::make_unique<netvane::ConversationTable>()) {
  setObjectName(QStringLiteral("ConversationsWindow"));
  netvane::SetUpSecondaryWindow(this, QStringLiteral("Conversations"));
  resize(980, 420);
  auto* layout = new QVBoxLayout(this);
  Tabs = new QTabWidget(this);
  layout->addWidget(Tabs);
  auto* filterRow = new QAction(QStringLiteral("Filter on this conversation"), this);
  filterRow->setObjectName(QStringLiteral("FilterOnConversationAction"));
  filterRow->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Return));
  connect(filterRow, &QAction::triggered, this, &TConversationsWindow::FilterOnConversation);
  auto* follow = new QAction(QStringLiteral("Follow stream"), this);
  follow->setObjectName(QStringLiteral("FollowStreamAction"));
  follow->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::SHIFT | Qt::Key_T));
  connect(follow, &QAction::triggered, this, &TConversationsWindow::FollowStream);
  addAction(filterRow);
  addAction(follow);
  for (int k = 0; k < kConversationKinds; ++k) {
    FModels[k] = new TConversationModel(static_cast<ConversationKind>(k), this);
    FSorted[k] = new QSortFilterProxyModel(this);
    FSorted[k]->setSourceModel(FModels[k]);
    FSorted[k]->setSortRole(Qt::UserRole);
    auto* view = new QTableView(Tabs);
    view->setObjectName(QStringLiteral("Conversations%1").arg(QString::fromLatin1(kTabNames[k])));
    view->setModel(FSorted[k]);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->verticalHeader()->hide();
    view->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    // Unsorted until a header is clicked: in order of first frame.
    view->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    view->setSortingEnabled(true);
    view->setContextMenuPolicy(Qt::ActionsContextMenu);
    view->addAction(filterRow);
    if (k == static_cast<int>(ConversationKind::Tcp)) view->addAction(follow);
    FViews[k] = view;
    Tabs->addTab(view, QString::fromLatin1(kTabTexts[k]));
  }
  // A tab shown by keyboard has a current row to act on.
  connect(Tabs, &QTabWidget::currentChanged, this, [this](int k) {
    if (k < 0 || k >= kConversationKinds) return;
    QTableView* v = FViews[k];
    if (!v->currentIndex().isValid() && v->model()->rowCount() > 0)
      v->setCurrentIndex(v->model()->index(0, 0));
    v->setFocus();
  });
  auto* bottom = new QHBoxLayout;
  LimitToFilter = new QCheckBox(QStringLiteral("&Limit to display filter"), this);
  LimitToFilter->setObjectName(QStringLiteral("LimitToFilter"));
  Status = new QLabel(this);
  bottom->addWidget(LimitToFilter);
  bottom->addStretch(1);
  bottom->addWidget(Status);
  layout->addLayout(bottom);
  connect(LimitToFilter, &QCheckBox::toggled, this, [this] { Restart(); });

  TPacketListModel* list = FWindow->packetModel();
  connect(list, &QAbstractItemModel::modelAboutToBeReset, this, &TConversationsWindow::ListAboutToChange);
  connect(list, &QAbstractItemModel::modelReset, this, &TConversationsWindow::ListChanged);
  auto* look = new QTimer(this);
  look->setInterval(kLookForFramesMs);
  connect(look, &QTimer::timeout, this, &TConversationsWindow::LookForFrames);
  look->start();
  Restart();
}

TConversationsWindow::~TConversationsWindow() {
  StopWalk();
}

void TConversationsWindow::StopWalk() {
  if (!FJob) return;
  FWalked = FJob->walked();
  FJob.reset();  // joins: the table is the window's again
}

void TConversationsWindow::Restart() {
  StopWalk();
  FTable = std::make_unique<netvane::ConversationTable>();
  FWalked = 0;
  FRows = TConversationRows{};  // what the rows showed is no longer counted
  FFilter = LimitToFilter->isChecked() ? FWindow->displayFilter()->filter() : nullptr;
  for (TConversationModel* m : FModels) m->Reset();
  ShowTitle();
  Resume();
}

void TConversationsWindow::Resume() {
  // Never while the list is empty: another file may be about to take its place.
  if (FJob || FWindow->frames().Count() == 0) return;
  FJob = std::make_unique<TConversationsJob>(FWindow->frames(), *FTable, FFilter, FWalked + 1);
  connect(FJob.get(), &TConversationsJob::updated, this, &TConversationsWindow::Updated);
}

void TConversationsWindow::LookForFrames() {
  if (!FJob) Resume();
  if (FJob)
    Status->setText(
        QStringLiteral("%1 of %2 frames counted").arg(FJob->walked()).arg(FWindow->frames().Count()));
}

void TConversationsWindow::Updated() {
  if (!FJob || !FJob->Take(FRows)) return;
  for (int k = 0; k < kConversationKinds; ++k) FModels[k]->Update(FRows.rows[k], FRows.startMicros);
  const int k = Tabs->currentIndex();
  if (k >= 0 && !FViews[k]->currentIndex().isValid() && FViews[k]->model()->rowCount() > 0)
    FViews[k]->setCurrentIndex(FViews[k]->model()->index(0, 0));
  Status->setText(QStringLiteral("%1 of %2 frames counted").arg(FRows.walked).arg(FWindow->frames().Count()));
}

void TConversationsWindow::ListAboutToChange() {
  // The frames may go now: the walk must not read them.
  StopWalk();
}

void TConversationsWindow::ListChanged() {
  // A clear or another file: counted again from the start. A display filter
  // changed: counted again only when the table is limited to it.
  if (FWindow->frames().Count() < FWalked || LimitToFilter->isChecked())
    Restart();
  else
    Resume();
}

void TConversationsWindow::ShowTitle() {
  QString title = QStringLiteral("Conversations");
  if (FFilter) title += QStringLiteral(" - limited to %1").arg(FWindow->displayFilter()->expression());
  setWindowTitle(title);
}

bool TConversationsWindow::caughtUp() const {
  const uint32_t count = FWindow->frames().Count();
  return FJob && FRows.walked >= count && FJob->walked() >= count;
}

int TConversationsWindow::RowCount(ConversationKind kind) const {
  return FModels[static_cast<int>(kind)]->rowCount();
}

QTableView* TConversationsWindow::view(ConversationKind kind) const {
  return FViews[static_cast<int>(kind)];
}

const Conversation* TConversationsWindow::RowAt(ConversationKind kind, int viewRow) const {
  const int k = static_cast<int>(kind);
  const QModelIndex source = FSorted[k]->mapToSource(FSorted[k]->index(viewRow, 0));
  if (!source.isValid()) return nullptr;
  return &FModels[k]->rows()[static_cast<std::size_t>(source.row())];
}

int TConversationsWindow::CurrentRow(ConversationKind& kind) const {
  const int k = Tabs->currentIndex();
  if (k < 0 || k >= kConversationKinds) return -1;
  kind = static_cast<ConversationKind>(k);
  const QModelIndex source = FSorted[k]->mapToSource(FViews[k]->currentIndex());
  return source.isValid() ? source.row() : -1;
}

void TConversationsWindow::FilterOnConversation() {
  ConversationKind kind{};
  const int row = CurrentRow(kind);
  if (row < 0) return;
  const Conversation& c = FModels[static_cast<int>(kind)]->rows()[static_cast<std::size_t>(row)];
  FWindow->streamTools()->ApplyDisplayFilter(netvane::ConversationExpression(kind, c.a, c.b));
}

void TConversationsWindow::FollowStream() {
  ConversationKind kind{};
  const int row = CurrentRow(kind);
  if (row < 0 || kind != ConversationKind::Tcp) return;
  // Row k of the TCP tab is stream k among the frames the table counts.
  FWindow->streamTools()->FollowStream(static_cast<uint32_t>(row), FFilter);
}
