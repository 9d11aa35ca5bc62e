// The widget tests run inside the program's own application object, on Qt's
// offscreen platform unless the caller chose another one.
#include <gtest/gtest.h>

#include "app/exception_report.h"

// Under ThreadSanitizer: Qt's raster engine splits large fills (the button
// pictures) across its own GUI thread pool, whose threads hand data to each
// other through futex-based locks inside the uninstrumented Qt libraries that
// the sanitizer cannot see. Those reports lie wholly inside Qt. Our own code is
// instrumented and is still checked; the worker-to-UI crossing goes through the
// frame list's own synchronisation and atomics, which it sees.
extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libQt6Gui.so.6\n"
         "race:libQt6Core.so.6\n";
}

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  netvane::TApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
