// The clock the card's field-end times are read against (CLOCK_MONOTONIC, in
// nanoseconds), so that a frame's time and "now" compare directly.
#pragma once

#include <stdint.h>
#include <time.h>

namespace lxclock {

inline uint64_t monotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

}  // namespace lxclock
