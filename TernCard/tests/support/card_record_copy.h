// A copy of a card handle's record, taken under its lock, for tests that
// check the state and fields the public API keeps there.
#pragma once

#include <windows.h>

#include <cstring>

#include "lx/internal/card_record.h"
#include "lx/video_card.h"

namespace terncard::testing {

// All zeros when the handle does not lock.
inline LxCardRecord recordOf(LxCardHandle handle) {
  LxCardRecord copy{};
  if (const void* record = GlobalLock(handle)) {
    std::memcpy(&copy, record, sizeof copy);
    GlobalUnlock(handle);
  }
  return copy;
}

}  // namespace terncard::testing
