// A GoogleTest suite whose tests share one private machine, booted before
// the suite's first test and powered off after its last.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>

#include "stack_machine.h"

namespace hmbtest {

class MachineSuite : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    machine_ = new StackMachine();
    ASSERT_TRUE(machine_->booted());
  }
  static void TearDownTestSuite() {
    delete machine_;
    machine_ = nullptr;
  }
  static inline StackMachine* machine_ = nullptr;
};

// True when the `n` bytes at `p` are all zero.
inline bool allZero(const void* p, size_t n) {
  const auto* b = static_cast<const uint8_t*>(p);
  for (size_t i = 0; i < n; ++i) {
    if (b[i] != 0) return false;
  }
  return true;
}

}  // namespace hmbtest
