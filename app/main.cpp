// Program entry: the frame list, the application, the three windows, the loop.
//
// Test hook: when NETVANE_SCREENSHOT names a file, the program saves a picture
// of its main window there once the window is on the screen, then closes the
// main window and ends as a user's close would. Nothing else reads the
// environment.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <cstdlib>
#include <memory>

#include "app/About.h"
#include "app/Form1.h"
#include "app/Form2.h"
#include "app/exception_report.h"
#include "decode/frame_list.h"

namespace {

void ScreenshotAndClose(TForm1* form, const QString& path, int triesLeft) {
  QWindow* window = form->windowHandle();
  if (triesLeft > 0 && (window == nullptr || !window->isExposed())) {
    QTimer::singleShot(100, form, [=] { ScreenshotAndClose(form, path, triesLeft - 1); });
    return;
  }
  QPixmap shot;
  if (QScreen* screen = form->screen()) shot = screen->grabWindow(form->winId());
  if (shot.isNull()) shot = form->grab();
  shot.save(path, "PNG");
  form->close();
}

}  // namespace

int main(int argc, char** argv) {
  // The frame list's head entry exists before any window.
  auto frames = std::make_unique<netvane::FrameList>();
  netvane::TApplication app(argc, argv);
  app.setQuitOnLastWindowClosed(false);  // closing the main window ends the program
  try {
    auto form1 = std::make_unique<TForm1>(*frames);
    auto form2 = std::make_unique<TForm2>();
    auto form3 = std::make_unique<TForm3>();
    form1->AttachWindows(form2.get(), form3.get());
    QObject::connect(form1.get(), &TForm1::closed, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    form1->show();

    const QByteArray shotPath = qgetenv("NETVANE_SCREENSHOT");
    if (!shotPath.isEmpty()) {
      TForm1* f = form1.get();
      const QString path = QString::fromLocal8Bit(shotPath);
      // Give the first paint a moment, then wait up to 10 s for the window.
      QTimer::singleShot(500, f, [f, path] { ScreenshotAndClose(f, path, 100); });
    }
    app.exec();
    // Destroyed in the reverse order of creation.
    form3.reset();
    form2.reset();
    form1.reset();
  } catch (...) {
    netvane::ReportCurrentException();
  }
  return 0;
}
