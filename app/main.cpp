// Program entry: the frame list, the application, the three windows, the loop.
//
// The program takes no arguments: Qt is handed the program name alone, so
// nothing on the command line (-platform, -platformpluginpath, -style, ...)
// changes what it does.
#include <memory>

#include "app/About.h"
#include "app/Form1.h"
#include "app/Form2.h"
#include "app/exception_report.h"
#include "pcapfile/frame_list.h"
#include "pcapfile/spool.h"

int main(int argc, char** argv) {
  char fallbackName[] = "netvane";
  int qtArgc = 1;
  char* qtArgv[] = {argc > 0 && argv[0] != nullptr ? argv[0] : fallbackName, nullptr};
  // A spool whose name a crash left behind goes now.
  netvane::RemoveStaleSpools();
  // The frame list's head entry exists before any window.
  auto frames = std::make_unique<netvane::FrameList>();
  netvane::TApplication app(qtArgc, qtArgv);
  app.setQuitOnLastWindowClosed(false);  // closing the main window ends the program
  try {
    auto form1 = std::make_unique<TForm1>(*frames);
    auto form2 = std::make_unique<TForm2>();
    auto form3 = std::make_unique<TForm3>();
    form1->AttachWindows(form2.get(), form3.get());
    QObject::connect(form1.get(), &TForm1::closed, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    form1->show();
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
