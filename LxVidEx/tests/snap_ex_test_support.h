// What the snap-ex machine tests share: the threads of this process and the
// card's capture state.
#pragma once

#include <dirent.h>
#include <windows.h>

#include <cstdint>

#include "card_record_copy.h"
#include "lx/internal/card_record.h"
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

}  // namespace snapextest
