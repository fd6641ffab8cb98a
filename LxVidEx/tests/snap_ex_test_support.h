// What the snap-ex machine tests share: the threads of this process and the
// card's capture state.
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>

#include "card_record_copy.h"
#include "lx/internal/card_record.h"
#include "lx/snap_ex.h"
#include "lx/video.h"
#include "lx/video_card.h"
#include "lx/video_types.h"

namespace snapextest {

// Bound of every wait of these tests.
inline constexpr int kWaitMs = 5000;

inline int threadsOfProcess() {
  int count = 0;
  if (DIR* tasks = opendir("/proc/self/task")) {
    while (const dirent* entry = readdir(tasks)) {
      count += entry->d_name[0] != '.';
    }
    closedir(tasks);
  }
  return count;
}

// Waits up to kWaitMs for the process to have `expected` threads.
inline bool waitForThreads(int expected) {
  for (int ms = 0; ms < kWaitMs; ms += 5) {
    if (threadsOfProcess() == expected) {
      return true;
    }
    Sleep(5);
  }
  return false;
}

inline int32_t stateOf(LxCardHandle handle) { return terncard::testing::recordOf(handle).state; }

// Cards 1 and 2 open, 384 x 288 grey, closed and ended after each test.
class TwoCards : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int k = 0; k < 2; ++k) {
      ASSERT_EQ(BeginLxCard(k + 1, &cards_[k]), LX_OK);
      ASSERT_EQ(LxSetOutputWindow(cards_[k], 0, 0, 384, 288), LX_OK);
      ASSERT_EQ(LxSetVideoFormat(cards_[k], LX_VIDEO_FORMAT_GREY8_FULL), LX_OK);
    }
  }
  void TearDown() override {
    for (LxCardHandle card : cards_) {
      LxCloseSnapEx(card);
      EXPECT_EQ(EndLxCard(card), LX_OK);
    }
  }
  LxCardHandle cards_[2] = {};
};

}  // namespace snapextest
