// The widget tests run inside the program's own application object, on Qt's
// offscreen platform unless the caller chose another one.
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "app/exception_report.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // What the window remembers (remote hosts, filters) goes to a directory of
  // the run's own, not to the user's settings.
  QTemporaryDir settings;
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(settings.path()));
  netvane::TApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
