// Program entry: the frame list, the application, the three windows, the loop.
//
// Command line: netvane [FILE]. FILE opens as "Open capture..." opens it,
// once the window shows. Options are not heeded: Qt is handed the program name
// alone, so nothing on the command line (-platform, -platformpluginpath,
// -style, ...) changes what the program does. Qt's options and the value that
// follows one that takes a value are passed over in silence; any other option
// is passed over with a line on the standard error. "--" ends the options.
// Only the first FILE opens; further ones are named on the standard error and
// left alone (a desktop's %f starts one program per file).
#include <QFileInfo>
#include <QStringList>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <memory>

#include "app/About.h"
#include "app/Form1.h"
#include "app/Form2.h"
#include "app/exception_report.h"
#include "decode/frame_list.h"

namespace {

// Qt's command-line options (with one dash or two), as QGuiApplication and
// QApplication read them. 0: not one of them; 1: one of them, alone or with
// its value attached (-style=fusion); 2: one that takes the next argument as
// its value.
int QtOption(const char* option) {
  static const char* const kWithValue[] = {"platform",
                                           "platformpluginpath",
                                           "platformtheme",
                                           "plugin",
                                           "qwindowgeometry",
                                           "geometry",
                                           "qwindowicon",
                                           "icon",
                                           "qwindowtitle",
                                           "title",
                                           "style",
                                           "stylesheet",
                                           "session",
                                           "display",
                                           "name",
                                           "qmljsdebugger",
                                           "visual",
                                           "dialogs",
                                           "fontengine"};
  static const char* const kAlone[] = {"reverse", "widgetcount", "nograb", "dograb", "sync", "testability"};
  const char* name = option + (std::strncmp(option, "--", 2) == 0 ? 2 : 1);
  const std::size_t length = std::strcspn(name, "=");
  const bool attached = name[length] == '=';
  const auto is = [&](const char* known) {
    return std::strlen(known) == length && std::strncmp(name, known, length) == 0;
  };
  for (const char* known : kWithValue)
    if (is(known)) return attached ? 1 : 2;
  for (const char* known : kAlone)
    if (is(known) && !attached) return 1;
  return 0;
}

// The file to open, as an absolute path (the save dialog may change the
// working directory later); empty when none is given.
QString FileArgument(int argc, char** argv) {
  QStringList files;
  bool options = true;
  for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
    const char* a = argv[i];
    if (options && std::strcmp(a, "--") == 0) {
      options = false;
    } else if (options && a[0] == '-' && a[1] != '\0') {
      const int qt = QtOption(a);
      if (qt == 0) std::fprintf(stderr, "netvane: option %s ignored\n", a);
      if (qt == 2 && i + 1 < argc) ++i;
    } else {
      files << QString::fromLocal8Bit(a);
    }
  }
  if (files.isEmpty()) return {};
  for (qsizetype i = 1; i < files.size(); ++i)
    std::fprintf(stderr, "netvane: opens one file; %s ignored\n", files[i].toLocal8Bit().constData());
  return QFileInfo(files.front()).absoluteFilePath();
}

}  // namespace

int main(int argc, char** argv) {
  char fallbackName[] = "netvane";
  int qtArgc = 1;
  char* qtArgv[] = {argc > 0 && argv[0] != nullptr ? argv[0] : fallbackName, nullptr};
  // The frame list's head entry exists before any window.
  auto frames = std::make_unique<netvane::FrameList>();
  netvane::TApplication app(qtArgc, qtArgv);
  app.setQuitOnLastWindowClosed(false);  // closing the main window ends the program
  const QString file = FileArgument(argc, argv);
  try {
    auto form1 = std::make_unique<TForm1>(*frames);
    auto form2 = std::make_unique<TForm2>();
    auto form3 = std::make_unique<TForm3>();
    form1->AttachWindows(form2.get(), form3.get());
    QObject::connect(form1.get(), &TForm1::closed, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    form1->show();
    // From the event loop, so that the window is there to list into and to
    // carry a message about a file that cannot be listed.
    if (!file.isEmpty())
      QTimer::singleShot(0, form1.get(), [window = form1.get(), file] { window->OpenCaptureFile(file); });
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
