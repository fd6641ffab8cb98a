// main() of the multi-card program's machine tests: boots a private machine,
// then runs the cases in a child process with a QApplication and the bridge.
#include <gtest/gtest.h>

#include <QApplication>

#include "lxqt/bridge.h"
#include "machine_first.h"

namespace {

int runTests(int argc, char** argv) {
  QApplication app(argc, argv);
  if (!lxqt::installBridge(app)) return 2;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

}  // namespace

int main(int argc, char** argv) {
  return terncard::testing::runAfterBooting(terncard::testing::machineConfig(), argc, argv, runTests);
}
