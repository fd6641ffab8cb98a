// What one snap-ex callback says about the frames the card made: how many
// since the start, how many were not reported since the previous callback,
// and how long after the frame's field end the callback came.
#pragma once

#include <cstdint>
#include <optional>

#include "lx/snap_ex.h"

namespace lxsnap {

struct FrameTick {
  uint32_t sequence = 0;  // frames completed since the start, this one included
  uint32_t skipped = 0;   // completed since the previous callback and not reported
  std::optional<uint64_t> latencyNs;
};

// nowNs: CLOCK_MONOTONIC when the callback began. A field end after it (the
// card's clock read a moment late) is no negative latency.
inline FrameTick frameTickOf(const SnapExInfo& info, uint64_t nowNs) {
  return {info.sequence, info.skipped, nowNs >= info.timestampNs ? nowNs - info.timestampNs : 0};
}

}  // namespace lxsnap
