// The real-interface tests run in a network namespace of their own, entered
// before any thread exists so the worker threads inherit it.
#include <QCoreApplication>

#include <gtest/gtest.h>

#include "tests/live/veth_lab.h"

int main(int argc, char** argv) {
  netvane::lab::EnterPrivateNetwork();
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
