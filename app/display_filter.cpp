#include "app/display_filter.h"

#include <QAction>
#include <QMessageBox>

#include <algorithm>

#include "app/Form1.h"
#include "app/filter_dialog.h"
#include "app/filter_job.h"
#include "app/frame_views.h"
#include "app/packet_finder.h"
#include "app/packet_list_model.h"
#include "app/window_action.h"
#include "app/window_title.h"
#include "pcapfile/frame_filter.h"

namespace {

const char* const kDialogTitle = "Display filter";
constexpr const char* kHistoryKey = "DisplayFilters";
constexpr int kProgressTickMs = 50;

}  // namespace

TDisplayFilter::TDisplayFilter(TForm1* window) : QObject(window), FWindow(window) {
  FilterAction = WindowAction(window, "FilterAction", "Filter...", QKeySequence(Qt::CTRL | Qt::Key_L));
  ClearFilterAction = WindowAction(window, "ClearFilterAction", "Clear filter",
                                   QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_L));
  connect(FilterAction, &QAction::triggered, this, &TDisplayFilter::FilterClick);
  connect(ClearFilterAction, &QAction::triggered, this, &TDisplayFilter::Clear);
  auto* separator = new QAction(this);
  separator->setSeparator(true);
  window->Packets->addAction(separator);
  window->Packets->addAction(FilterAction);
  window->Packets->addAction(ClearFilterAction);
  connect(window->frameViews(), &TFrameViews::filterRequested, this, &TDisplayFilter::ApplyFromTree);
  FProgressTimer.setInterval(kProgressTickMs);
  connect(&FProgressTimer, &QTimer::timeout, this, &TDisplayFilter::TickProgress);
  ShowState();
}

TDisplayFilter::~TDisplayFilter() {
  StopWalk();
}

// --- the dialog -------------------------------------------------------------

QStringList TDisplayFilter::History() {
  return TFilterDialog::History(kHistoryKey);
}

void TDisplayFilter::FilterClick() {
  if (FDialog == nullptr) {
    FDialog = new TFilterDialog(
        FWindow, QString::fromLatin1(kDialogTitle),
        QStringLiteral("List only the frames that match (as tcpdump takes it; empty lists every frame):"),
        kHistoryKey, [this](const QString& expression, QString& error) { return Apply(expression, error); });
    FDialog->setObjectName(QStringLiteral("DisplayFilterDialog"));
  }
  FDialog->Ask(FFilter ? FExpression : QString());
}

void TDisplayFilter::ApplyFromTree(const QString& expression) {
  QString error;
  if (Apply(expression, error)) return;
  QMessageBox::warning(FWindow, QString::fromLatin1(kDialogTitle),
                       QStringLiteral("\"%1\" is not a filter expression: %2.").arg(expression, error));
}

// --- applying and clearing ----------------------------------------------------

bool TDisplayFilter::Apply(const QString& expression, QString& error) {
  const QString text = expression.trimmed();
  if (text.isEmpty()) {
    Clear();
    return true;
  }
  auto compiled = std::make_shared<netvane::FrameFilter>();
  std::string why;
  if (!compiled->Compile(text.toStdString(), why)) {
    error = QString::fromLocal8Bit(why.c_str());
    return false;
  }
  TFilterDialog::Remember(kHistoryKey, text);
  // A search walks the rows as they were.
  FWindow->finder()->End();
  FWindow->ListNewFrames();
  TPacketListModel* model = FWindow->packetModel();
  FReselect = model->NumberAt(FWindow->Packets->currentIndex().row());
  StopWalk();
  FFilter = std::move(compiled);
  FExpression = text;
  FChecked = 0;
  FTarget = FCount;
  FShown.Clear();
  model->ShowOnly(&FShown);
  if (FCount > 0) StartWalk(1);
  // Cancel clears the filter; from the event loop, since the dialog's own
  // signal is running then.
  FProgress =
      std::make_unique<TProgressDialog>(FWindow, QStringLiteral("Filtering with %1 ...").arg(FExpression),
                                        [this] { QTimer::singleShot(0, this, &TDisplayFilter::Clear); });
  FProgressTimer.start();
  ShowState();
  return true;
}

void TDisplayFilter::Clear() {
  if (!FFilter) return;
  TPacketListModel* model = FWindow->packetModel();
  const uint32_t selected = model->NumberAt(FWindow->Packets->currentIndex().row());
  StopWalk();
  CloseProgress();
  FFilter.reset();
  FExpression.clear();
  FReselect = 0;
  model->ShowOnly(nullptr, FCount);
  FShown.Clear();
  FWindow->ListNewFrames();
  ShowState();
  // The frame selected under the filter stays selected, and in view.
  if (selected != 0) FWindow->finder()->GoToPacket(selected);
}

bool TDisplayFilter::FramesListed(uint32_t count) {
  const bool changed = count != FCount;
  FCount = count;
  if (!FFilter) return changed;
  if (!FJob) {
    // Again after a clear, once the list holds frames (never while it takes
    // another file in: it is empty then).
    if (count > 0) StartWalk(FWindow->packetModel()->covered() + 1);
  } else if (changed) {
    FJob->More();
  }
  if (changed) ShowState();
  return changed;
}

void TDisplayFilter::ListCleared() {
  StopWalk();
  CloseProgress();
  FCount = 0;
  FChecked = 0;
  FTarget = 0;
  FReselect = 0;
  ShowState();
}

void TDisplayFilter::StartWalk(uint32_t first) {
  FJob = std::make_unique<TFilterJob>(FWindow->frames(), FFilter, first);
  connect(FJob.get(), &TFilterJob::checked, this, &TDisplayFilter::Checked);
}

void TDisplayFilter::StopWalk() {
  // Joins the thread; a batch still queued goes with the job.
  FJob.reset();
}

void TDisplayFilter::Checked() {
  if (!FJob) return;
  const uint32_t upTo = FJob->Take(FBatch);
  FChecked = std::max(FChecked, upTo);
  FShown.Append(FBatch);
  TPacketListModel* model = FWindow->packetModel();
  model->ListShown(upTo);
  if (FReselect != 0 && upTo >= FReselect) {
    if (model->RowOf(FReselect) >= 0) FWindow->finder()->GoToPacket(FReselect);
    FReselect = 0;
  }
  if (caughtUp()) CloseProgress();
  ShowState();
}

// --- what the window says -----------------------------------------------------

void TDisplayFilter::ShowState() {
  ClearFilterAction->setEnabled(FFilter != nullptr);
  netvane::ShowWindowTitle(FWindow);
}

QString TDisplayFilter::TitlePart() const {
  if (!FFilter) return {};
  return QStringLiteral("filter: %1 - %2 of %3 frames").arg(FExpression).arg(FShown.size()).arg(FCount);
}

void TDisplayFilter::TickProgress() {
  if (caughtUp()) {
    CloseProgress();
    return;
  }
  if (FProgress) FProgress->Update(FTarget == 0 ? 0.0 : double(FChecked) / double(FTarget));
}

void TDisplayFilter::CloseProgress() {
  FProgressTimer.stop();
  FProgress.reset();
}
