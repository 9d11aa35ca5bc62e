// The standard exception report: its text rule, and a report raised from a
// handler inside the event loop, after which the loop goes on.
#include <QAbstractButton>
#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

#include <stdexcept>

#include "app/exception_report.h"

namespace {

TEST(ExceptionReportText, AppendsAFullStopAfterCharactersThatSortAfterIt) {
  struct Case {
    std::string message;
    const char* shown;
  };
  const Case cases[] = {
      {"Disk full", "Disk full."},                // letter
      {"Error 42", "Error 42."},                  // digit
      {"Ends with slash/", "Ends with slash/."},  // '/' comes right after '.'
      {"Already ends.", "Already ends."},         // '.' itself
      {"Trailing blank ", "Trailing blank "},
      {"Comma,", "Comma,"},  // ',' comes before '.'
      {"Dash-", "Dash-"},    // '-' comes right before '.'
      {"What?", "What?."},   // '?' comes after '.'
      {"", ""},              // a kind without a message
  };
  for (const Case& c : cases)
    EXPECT_EQ(netvane::ExceptionReportText(c.message), QString::fromLatin1(c.shown)) << c.message;
  // 8-bit characters compare unsigned: a Latin-1 letter comes after '.'.
  EXPECT_EQ(netvane::ExceptionReportText("caf\xE9"), QString::fromLatin1("caf\xE9."));
}

// Throws from its event handler, as a faulty window handler would.
class Thrower : public QObject {
 public:
  bool kindWithoutMessage = false;
  bool event(QEvent* e) override {
    if (e->type() == QEvent::User) {
      if (kindWithoutMessage) throw 42;
      throw std::runtime_error("Handler failed");
    }
    return QObject::event(e);
  }
};

struct Seen {
  bool shown = false;
  QString title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  bool loopWentOn = false;
  QEventLoop* loop = nullptr;
};

// Reads the report once it is open, then presses OK.
void AnswerReport(Seen& seen, int triesLeft = 200) {
  auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
  if (box == nullptr) {
    if (triesLeft > 0) QTimer::singleShot(10, [&seen, triesLeft] { AnswerReport(seen, triesLeft - 1); });
    return;
  }
  seen.shown = true;
  seen.title = box->windowTitle();
  seen.text = box->text();
  seen.icon = box->icon();
  seen.buttons = box->standardButtons();
  box->button(QMessageBox::Ok)->click();
  // Runs once the report is gone and the failed handler has returned.
  QTimer::singleShot(0, [&seen] {
    seen.loopWentOn = QApplication::activeModalWidget() == nullptr;
    if (seen.loop) seen.loop->quit();
  });
}

class ExceptionReportLoop : public ::testing::TestWithParam<bool> {};

TEST_P(ExceptionReportLoop, ReportIsShownAndTheLoopGoesOn) {
  ASSERT_NE(qobject_cast<netvane::TApplication*>(QCoreApplication::instance()), nullptr);
  Thrower thrower;
  thrower.kindWithoutMessage = GetParam();
  Seen seen;
  QEventLoop loop;
  seen.loop = &loop;
  QTimer::singleShot(0, [&] { QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User)); });
  QTimer::singleShot(0, [&] { AnswerReport(seen); });
  QTimer::singleShot(10000, &loop, &QEventLoop::quit);  // guard
  loop.exec();
  EXPECT_TRUE(seen.shown);
  EXPECT_TRUE(seen.loopWentOn);
  EXPECT_EQ(seen.title, "Netvane");
  EXPECT_EQ(seen.text, GetParam() ? QString() : QString("Handler failed."));
  EXPECT_EQ(seen.icon, QMessageBox::Critical);
  EXPECT_EQ(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
}

INSTANTIATE_TEST_SUITE_P(Kinds, ExceptionReportLoop, ::testing::Values(false, true),
                         [](const auto& p) { return p.param ? "WithoutMessage" : "StdException"; });

}  // namespace
