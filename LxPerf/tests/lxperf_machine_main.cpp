// main() of LxPerf's machine tests: boots a private machine, then runs the
// cases in a child process with a QApplication and the GUI bridge.
#include <gtest/gtest.h>

#include <QApplication>

#include "lxqt/bridge.h"
#include "machine_first.h"

// One card with the bars on its second composite input ("Video 2", flat
// input 1), a 1024 x 768 x 32 screen, a clock 4 times fast and 16 MiB of
// static memory.
const char* terncard::testing::machineConfig() {
  return "[clock]\nfactor = 4\n\n[display]\nwidth = 1024\nheight = 768\nbits = 32\n\n"
         "[[terncard]]\nsignature = true\nsources = [\"none\", \"bars\", \"none\", \"none\"]\n";
}

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
