#include "app/capture_filter.h"

#include <QAction>
#include <QComboBox>
#include <QToolButton>

#include <string>

#include "app/Form1.h"
#include "app/app_settings.h"
#include "app/filter_dialog.h"
#include "app/window_action.h"
#include "app/window_title.h"
#include "capture/KelWinPcapNetMonitor.h"
#include "pcapfile/frame_filter.h"

namespace {

const char* const kDialogTitle = "Capture filter";
constexpr const char* kHistoryKey = "CaptureFilters";
constexpr const char* kCurrentKey = "CaptureFilter";

// libpcap's message when `expression` does not compile for Ethernet.
bool Compiles(const QString& expression, QString& error) {
  netvane::FrameFilter filter;
  std::string why;
  if (filter.Compile(expression.toStdString(), why)) return true;
  error = QString::fromLocal8Bit(why.c_str());
  return false;
}

}  // namespace

TCaptureFilter::TCaptureFilter(TForm1* window) : QObject(window), FWindow(window) {
  CaptureFilterAction = WindowAction(window, "CaptureFilterAction", "Capture filter...",
                                     QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_K));
  connect(CaptureFilterAction, &QAction::triggered, this, &TCaptureFilter::CaptureFilterClick);
  // The adapter box's context menu offers the box's actions.
  window->CardBox->addAction(CaptureFilterAction);
  // After the window's own handler: the capture has taken the expression then.
  connect(window->Start, &QToolButton::clicked, this, &TCaptureFilter::Started);
  const QString remembered =
      netvane::AppSettings()->value(QString::fromLatin1(kCurrentKey)).toString().trimmed();
  QString error;
  if (!remembered.isEmpty() && Compiles(remembered, error)) Hand(remembered);
}

void TCaptureFilter::CaptureFilterClick() {
  if (FDialog == nullptr) {
    FDialog = new TFilterDialog(
        FWindow, QString::fromLatin1(kDialogTitle),
        QStringLiteral("Capture only the frames that match, from the next Start (as tcpdump takes it; empty "
                       "captures every frame):"),
        kHistoryKey, [this](const QString& expression, QString& error) { return Set(expression, error); });
    FDialog->setObjectName(QStringLiteral("CaptureFilterDialog"));
  }
  FDialog->Ask(FExpression);
}

bool TCaptureFilter::Set(const QString& expression, QString& error) {
  const QString text = expression.trimmed();
  if (!text.isEmpty() && !Compiles(text, error)) return false;
  if (!text.isEmpty()) TFilterDialog::Remember(kHistoryKey, text);
  netvane::AppSettings()->setValue(QString::fromLatin1(kCurrentKey), text);
  Hand(text);
  return true;
}

void TCaptureFilter::Hand(const QString& expression) {
  FExpression = expression;
  // Other drivers (the tests' own) take no expression.
  if (auto* driver = dynamic_cast<TKelWinPcapNetMonitor*>(FWindow->NetMonitor))
    driver->SetCaptureExpression(expression.toStdString());
  netvane::ShowWindowTitle(FWindow);
}

void TCaptureFilter::Started() {
  if (!FWindow->capturing()) return;
  FStarted = true;
  FInUse = FExpression;
  netvane::ShowWindowTitle(FWindow);
}

QString TCaptureFilter::TitlePart() const {
  if (!FStarted || FInUse == FExpression)
    return FExpression.isEmpty() ? QString() : QStringLiteral("capture filter: %1").arg(FExpression);
  return QStringLiteral("capture filter from the next Start: %1")
      .arg(FExpression.isEmpty() ? QStringLiteral("none") : FExpression);
}
