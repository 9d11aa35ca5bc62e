#include "app/packet_finder.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QInputDialog>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolTip>

#include "app/Form1.h"
#include "app/display_filter.h"
#include "app/find_job.h"
#include "app/message_box.h"
#include "app/packet_grid.h"
#include "app/packet_list_model.h"
#include "app/window_action.h"

namespace {

const char* const kGoToTitle = "Go to packet";
const char* const kFindTitle = "Find";

// The Find dialog's kinds, in the order of its box.
struct KindChoice {
  netvane::FindKind kind;
  const char* text;
  const char* example;
};
constexpr KindChoice kKinds[] = {
    {netvane::FindKind::HexBytes, "Hex bytes", "08 00 45"},
    {netvane::FindKind::Text, "Text", "GET /index.html"},
    {netvane::FindKind::Address, "Address (IPv4 or hardware)", "10.0.0.1 or 00:0C:29:1A:2B:3C"},
};

QString FromLatin1(const std::string& s) {
  return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

bool IsLatin1(const QString& s) {
  for (const QChar c : s)
    if (c.unicode() > 0xFF) return false;
  return true;
}

// A box over the window, with the dialog's title.
void Say(QWidget* window, const char* title, const QString& text, bool warning) {
  netvane::TellBox(window, warning ? QMessageBox::Warning : QMessageBox::Information, text,
                   QString::fromLatin1(title));
}

}  // namespace

TPacketFinder::TPacketFinder(TForm1* window) : QObject(window), FWindow(window) {
  GoToPacketAction =
      WindowAction(window, "GoToPacketAction", "Go to packet...", QKeySequence(Qt::CTRL | Qt::Key_G));
  FindAction = WindowAction(window, "FindAction", "Find...", QKeySequence(Qt::CTRL | Qt::Key_F));
  FindNextAction = WindowAction(window, "FindNextAction", "Find next", QKeySequence(Qt::Key_F3));
  FindPreviousAction =
      WindowAction(window, "FindPreviousAction", "Find previous", QKeySequence(Qt::SHIFT | Qt::Key_F3));
  connect(GoToPacketAction, &QAction::triggered, this, &TPacketFinder::GoToPacketClick);
  connect(FindAction, &QAction::triggered, this, &TPacketFinder::FindClick);
  connect(FindNextAction, &QAction::triggered, this, [this] { FindAgain(true); });
  connect(FindPreviousAction, &QAction::triggered, this, [this] { FindAgain(false); });
  // In the list's context menu after the file actions; F3 and Shift+F3 are keys only.
  auto* separator = new QAction(this);
  separator->setSeparator(true);
  window->Packets->addAction(separator);
  window->Packets->addAction(GoToPacketAction);
  window->Packets->addAction(FindAction);
}

TPacketFinder::~TPacketFinder() {
  End();
}

uint32_t TPacketFinder::SelectedFrame() const {
  const QModelIndex at = FWindow->Packets->currentIndex();
  return at.isValid() ? FWindow->packetModel()->NumberAt(at.row()) : 0;
}

// --- go to -------------------------------------------------------------------

void TPacketFinder::GoToPacketClick() {
  FWindow->ListNewFrames();
  const QString title = QString::fromLatin1(kGoToTitle);
  const auto say = [this](const QString& text, bool warning) { Say(FWindow, kGoToTitle, text, warning); };
  // Every stored frame has a number, shown by a display filter or not.
  const auto stored = [this] {
    TPacketListModel* model = FWindow->packetModel();
    return model->filtered() ? FWindow->frames().Count() : model->listed();
  };
  for (;;) {
    const uint32_t listed = stored();
    if (listed == 0) {
      say(QStringLiteral("No frames are listed."), false);
      return;
    }
    bool ok = false;
    FGoToText = QInputDialog::getText(FWindow, title, QStringLiteral("Frame number (1 to %1):").arg(listed),
                                      QLineEdit::Normal, FGoToText, &ok)
                    .trimmed();
    if (!ok) return;
    // The list may have grown (or been replaced) while the dialog was open.
    FWindow->ListNewFrames();
    const uint32_t now = stored();
    bool digits = !FGoToText.isEmpty();
    for (const QChar c : FGoToText) digits = digits && c >= u'0' && c <= u'9';
    const qulonglong number = digits ? FGoToText.toULongLong() : 0;
    if (!digits) {
      say(QStringLiteral("\"%1\" is not a frame number: type a number from 1 to %2.").arg(FGoToText).arg(now),
          true);
    } else if (number < 1 || number > now) {
      say(now == 0 ? QStringLiteral("There is no frame %1: no frames are listed.").arg(FGoToText)
                   : QStringLiteral("There is no frame %1: the list holds frames 1 to %2.")
                         .arg(FGoToText)
                         .arg(now),
          true);
    } else if (GoToPacket(static_cast<uint32_t>(number))) {
      return;
    } else if (number > FWindow->packetModel()->covered()) {
      say(QStringLiteral("The filter has not reached frame %1 yet; ask again in a moment.").arg(number),
          false);
    } else {
      say(QStringLiteral(
              "Frame %1 is hidden by the filter \"%2\". \"Clear filter\" (Ctrl+Shift+L) lists every "
              "frame again.")
              .arg(number)
              .arg(FWindow->displayFilter()->expression()),
          true);
    }
  }
}

bool TPacketFinder::GoToPacket(uint32_t number) {
  FWindow->ListNewFrames();
  TPacketListModel* model = FWindow->packetModel();
  const int row = model->RowOf(number);
  if (row < 0) return false;
  TPacketGrid* grid = FWindow->Packets;
  const QModelIndex current = grid->currentIndex();
  const QModelIndex target = model->index(row, current.isValid() ? current.column() : 0);
  // A row already in view stays where it is; any other comes to the middle.
  const bool inView = grid->viewport()->rect().contains(grid->visualRect(target));
  if (target == current) {
    // No current-changed signal: the row may have been the empty one when it became current.
    FWindow->PacketsSelectCell(target.column(), target.row() + 1);
  } else {
    grid->selectionModel()->setCurrentIndex(target, QItemSelectionModel::ClearAndSelect);
  }
  if (!inView) grid->scrollTo(target, QAbstractItemView::PositionAtCenter);
  grid->setFocus(Qt::OtherFocusReason);
  return true;
}

// --- find --------------------------------------------------------------------

void TPacketFinder::BuildFindDialog() {
  FFindDialog = new QDialog(FWindow);
  FFindDialog->setWindowTitle(QString::fromLatin1(kFindTitle));
  FFindKind = new QComboBox(FFindDialog);
  for (const KindChoice& k : kKinds) FFindKind->addItem(QString::fromLatin1(k.text));
  FFindText = new QLineEdit(FFindDialog);
  FFindText->setMinimumWidth(260);
  FIgnoreCase = new QCheckBox(QStringLiteral("Ignore case"), FFindDialog);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, FFindDialog);
  buttons->addButton(QStringLiteral("Find"), QDialogButtonBox::AcceptRole)->setDefault(true);
  auto* form = new QFormLayout(FFindDialog);
  form->addRow(QStringLiteral("Look for:"), FFindKind);
  form->addRow(QStringLiteral("Find:"), FFindText);
  form->addRow(QString(), FIgnoreCase);
  form->addRow(buttons);
  const auto kindChanged = [this](int index) {
    const KindChoice& k = kKinds[index < 0 ? 0 : index];
    FFindText->setPlaceholderText(QString::fromLatin1(k.example));
    FIgnoreCase->setEnabled(k.kind == netvane::FindKind::Text);
  };
  connect(FFindKind, &QComboBox::currentIndexChanged, FFindDialog, kindChanged);
  kindChanged(0);
  // Bad input is said over the dialog, which stays open with what was typed.
  connect(buttons, &QDialogButtonBox::accepted, FFindDialog, [this] {
    if (auto m = FindDialogMatcher()) {
      FLast = std::move(m);
      FFindDialog->accept();
    }
  });
  connect(buttons, &QDialogButtonBox::rejected, FFindDialog, &QDialog::reject);
}

std::optional<netvane::FrameMatcher> TPacketFinder::FindDialogMatcher() {
  const QString text = FFindText->text();
  QString why;
  std::optional<netvane::FrameMatcher> m;
  if (!IsLatin1(text)) {
    why = QStringLiteral("\"%1\" holds characters that are not 8-bit, which no frame byte shows.").arg(text);
  } else {
    const KindChoice& k = kKinds[std::max(0, FFindKind->currentIndex())];
    const QByteArray bytes = text.toLatin1();
    std::string reason;
    m = netvane::FrameMatcher::Make(k.kind, std::string_view(bytes.constData(), size_t(bytes.size())),
                                    FIgnoreCase->isChecked(), reason);
    why = FromLatin1(reason);
  }
  if (!m) Say(FFindDialog, kFindTitle, why, true);
  return m;
}

void TPacketFinder::FindClick() {
  if (FFindDialog == nullptr) BuildFindDialog();
  FFindText->selectAll();
  FFindText->setFocus();
  if (FFindDialog->exec() == QDialog::Accepted && FLast) Find(*FLast, true);
}

void TPacketFinder::FindAgain(bool forward) {
  if (!FLast) {
    FindClick();
    return;
  }
  Find(*FLast, forward);
}

bool TPacketFinder::Find(const netvane::FrameMatcher& matcher, bool forward) {
  End();
  FLast = matcher;
  FWindow->ListNewFrames();
  // Under a display filter, the frames it has decided on, of which only
  // those it shows are looked at.
  const uint32_t count = FWindow->packetModel()->covered();
  if (FWindow->packetModel()->listed() == 0) {
    Say(FWindow, kFindTitle, QStringLiteral("No frames are listed."), false);
    return false;
  }
  // From the row after the selected one to the end, then from the other end
  // up to the selected row itself, so a match in it alone is found last.
  const uint32_t from = SelectedFrame();
  TFindJob::Range main, wrapped;
  if (forward) {
    if (from < count) main = {from + 1, count};
    if (from >= 1) wrapped = {1, from};
  } else if (from == 0) {
    main = {count, 1};
  } else {
    if (from > 1) main = {from - 1, 1};
    wrapped = {count, from};
  }
  const QString what = FromLatin1(matcher.Description());
  auto* job = new TFindJob(FWindow, QStringLiteral("Finding %1...").arg(what), FWindow->frames(), matcher,
                           main, wrapped, FWindow->displayFilter()->filter());
  job->setParent(this);
  connect(
      job, &TFindJob::finished, this,
      [this, job, what, forward](uint32_t found, bool wrappedAround, bool cancelled, const QString& failure) {
        Finished(job, what, forward, {found, wrappedAround, cancelled, failure});
      });
  FJob = job;
  return true;
}

void TPacketFinder::Finished(TFindJob* job, const QString& what, bool forward, const Outcome& outcome) {
  if (FJob == job) FJob = nullptr;
  job->deleteLater();
  if (outcome.cancelled) return;
  if (!outcome.failure.isEmpty()) {
    Say(FWindow, kFindTitle, QStringLiteral("The search stopped: %1.").arg(outcome.failure), true);
  } else if (outcome.found == 0) {
    Say(FWindow, kFindTitle, QStringLiteral("Found no frame with %1.").arg(what), false);
  } else {
    GoToPacket(outcome.found);
    if (outcome.wrapped) {
      const QString note = forward ? QStringLiteral("Passed the last frame: searched on from frame 1.")
                                   : QStringLiteral("Passed frame 1: searched on from the last frame.");
      QToolTip::showText(FWindow->Packets->mapToGlobal(QPoint(24, 24)), note, FWindow->Packets, {}, 4000);
    }
  }
}

TFindJob* TPacketFinder::job() const {
  return FJob.data();
}

void TPacketFinder::End() {
  delete FJob.data();
}
