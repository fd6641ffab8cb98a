// The capture state of a card record. The snap-ex library's polling thread
// reads it while the application's thread may start or stop an activity on
// the same card, so every access goes through an atomic reference; the
// record's layout stays the plain 32-bit field it is.
#pragma once

#include <atomic>
#include <cstdint>

#include "lx/internal/card_record.h"

static_assert(std::atomic_ref<int32_t>::required_alignment <= alignof(int32_t));

inline int32_t cardState(const LxCardRecord* record) {
  return std::atomic_ref<int32_t>(const_cast<int32_t&>(record->state)).load(std::memory_order_acquire);
}

inline void setCardState(LxCardRecord* record, int32_t state) {
  std::atomic_ref<int32_t>(record->state).store(state, std::memory_order_release);
}
