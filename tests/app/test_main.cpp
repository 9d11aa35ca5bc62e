// The widget tests run inside the program's own application object.
#include <gtest/gtest.h>

#include "app/exception_report.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  netvane::TApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
