// main() of the bridge's GoogleTest programs: a QApplication with the bridge
// installed, on the main thread, for every case.
#include <gtest/gtest.h>

#include <QApplication>

#include "lxqt/bridge.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (!lxqt::installBridge(app)) return 2;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
