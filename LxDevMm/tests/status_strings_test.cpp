#include <climits>
#include <cstring>

#include <gtest/gtest.h>

#include "lx/devmm.h"

namespace {

const char* const kNames[LX_STATUS_COUNT] = {
    "LX_OK", "LX_ALLOCATE_DEVICE_MEMORY_ERROR", "LX_LOCK_DEVICE_MEMORY_ERROR", "LX_ACCESS_DEVICE_MEMORY_DENIED",
    "LX_PARAMETER_INVALID", "LX_NOT_SUPPORT_INTERFACE", "LX_OPEN_DRIVER_FAILED", "LX_CARD_HANDLE_INVALID",
    "LX_NO_CARD_FOUND", "LX_HW_MAP_MEMORY_ERROR", "LX_NOT_ENOUGH_SYSTEM_MEMORY", "LX_HW_INIT_ERROR",
    "LX_PARAMETER_OUT_OF_BOUND", "LX_HW_INIT_I2C_ERROR", "LX_HW_INIT_AD_ERROR", "LX_HW_BOARD_TYPE_ERROR",
    "LX_SNAP_SHOT_TIME_OUT", "LX_INIT_DDRAW_ERROR", "LX_IN_WORK", "LX_NOT_START_CAPTURE", "LX_NOT_START_CAPTURE_EX",
    "LX_NOT_START_SNAP", "LX_NOT_START_SNAP_EX", "LX_NOT_OPEN_SNAP_EX", "LX_VIDEO_FORMAT_INVALID",
    "LX_NOT_SUPPORT_CARD_TYPE", "LX_FILE_CREATE_ERROR", "LX_FILE_INVALID", "LX_VGA_BASE_INVALID",
    "LX_VIDEO_WINDOW_INVALID", "LX_INTERNAL_ERROR",
};

TEST(StatusStrings, EveryCodeNamesItselfInAZeroPaddedHundredByteEntry) {
  const char* table = LxDevGetErrorString(LX_OK);
  for (int k = 0; k < LX_STATUS_COUNT; ++k) {
    const char* entry = LxDevGetErrorString(-k);
    EXPECT_STREQ(entry, kNames[k]) << "code " << -k;
    EXPECT_EQ(entry - table, 100 * k) << "code " << -k;
    for (size_t i = std::strlen(kNames[k]); i < 100; ++i) {
      ASSERT_EQ(entry[i], '\0') << "code " << -k << " byte " << i;
    }
  }
}

TEST(StatusStrings, SignIsIgnoredAndPointersAreStable) {
  EXPECT_STREQ(LxDevGetErrorString(0), "LX_OK");
  EXPECT_STREQ(LxDevGetErrorString(-30), "LX_INTERNAL_ERROR");
  EXPECT_STREQ(LxDevGetErrorString(-8), "LX_NO_CARD_FOUND");
  EXPECT_EQ(LxDevGetErrorString(8), LxDevGetErrorString(-8));
  EXPECT_EQ(LxDevGetErrorString(30), LxDevGetErrorString(LX_INTERNAL_ERROR));
  EXPECT_EQ(LxDevGetErrorString(LX_IN_WORK), LxDevGetErrorString(LX_IN_WORK));
}

TEST(StatusStrings, CodesBeyondTheTableReadAsInternalError) {
  const char* internal = LxDevGetErrorString(LX_INTERNAL_ERROR);
  for (int code : {31, -31, 100, -1000, INT_MAX, INT_MIN, INT_MIN + 1}) {
    EXPECT_EQ(LxDevGetErrorString(code), internal) << "code " << code;
  }
}

}  // namespace
