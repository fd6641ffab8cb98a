// A window of the static memory mapped through the public API for one scope.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "lx/video.h"

namespace terncard::testing {

class StaticWindow {
 public:
  StaticWindow(uint32_t offset, uint32_t length) {
    EXPECT_EQ(LxStaticMemLock(offset, length, &lock_, &address_), LX_OK);
  }
  ~StaticWindow() {
    if (lock_ != nullptr) {
      LxStaticMemUnlock(lock_);
    }
  }
  StaticWindow(const StaticWindow&) = delete;
  StaticWindow& operator=(const StaticWindow&) = delete;
  uint8_t* bytes() const { return static_cast<uint8_t*>(address_); }

 private:
  LxStaticMemLockHandle lock_ = nullptr;
  void* address_ = nullptr;
};

}  // namespace terncard::testing
