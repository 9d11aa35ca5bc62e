// Test entry for the capture tests: a QApplication on the offscreen platform,
// so status lines posted by the worker reach the UI thread through its event loop.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
  if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setApplicationName("NetvaneTest");
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
