// main() of the GoogleTest programs that need the machine before they load.
#include <gtest/gtest.h>

#include "machine_first.h"

namespace {

int runTests(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

}  // namespace

int main(int argc, char** argv) {
  return terncard::testing::runAfterBooting(terncard::testing::machineConfig(), argc, argv, runTests);
}
