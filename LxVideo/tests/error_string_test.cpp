#include <climits>

#include <gtest/gtest.h>

#include "lx/devmm.h"
#include "lx/video.h"

namespace {

TEST(LxGetErrorString, ForwardsToTheDeviceManagersTable) {
  for (int code : {0, -1, -8, 8, -18, -30, 31, INT_MIN}) {
    EXPECT_EQ(LxGetErrorString(code), LxDevGetErrorString(code)) << "code " << code;
  }
  EXPECT_STREQ(LxGetErrorString(LX_IN_WORK), "LX_IN_WORK");
  EXPECT_STREQ(LxGetErrorString(LX_VIDEO_WINDOW_INVALID), "LX_VIDEO_WINDOW_INVALID");
}

}  // namespace
