// What one snap-ex callback says about the frames the card made: how many
// since the start, how many were not reported since the previous callback,
// and how long after the frame's end the callback came.
//
// SnapExInfo is to carry the card's own account (timestampNs of the field end
// that completed the frame, sequence, skipped); when it does, those are used.
// Until then the count comes from gaps in frameIndex round the ring, which
// cannot see a whole ring or more skipped at once, and the latency is unknown.
#pragma once

#include <cstdint>
#include <optional>

namespace lxsnap {

struct FrameTick {
  uint32_t sequence = 0;  // frames completed since the start, this one included
  uint32_t skipped = 0;   // completed since the previous callback and not reported
  std::optional<uint64_t> latencyNs;
};

template <typename Info>
concept CarriesCardTiming = requires(const Info& info) {
  info.timestampNs;
  info.sequence;
  info.skipped;
};

// Used by one callback thread at a time.
class FrameCounter {
 public:
  explicit FrameCounter(int32_t ringFrames) : ringFrames_(ringFrames > 0 ? ringFrames : 1) {}

  // nowNs: CLOCK_MONOTONIC when the callback began.
  template <typename Info>
  FrameTick onFrame(const Info& info, uint64_t nowNs) {
    if constexpr (CarriesCardTiming<Info>) {
      return {static_cast<uint32_t>(info.sequence), static_cast<uint32_t>(info.skipped),
              nowNs >= info.timestampNs ? nowNs - info.timestampNs : 0};
    } else {
      return fromRingPosition(info.frameIndex);
    }
  }

  // Ring entries passed over since the last reported one; the ring fills from
  // entry 0, so before the first report the last one counts as entry -1.
  FrameTick fromRingPosition(int32_t frameIndex) {
    uint32_t skipped = 0;
    if (frameIndex >= 0 && frameIndex < ringFrames_) {
      skipped = static_cast<uint32_t>(((frameIndex - lastIndex_ - 1) % ringFrames_ + ringFrames_) % ringFrames_);
      lastIndex_ = frameIndex;
    }
    sequence_ += 1 + skipped;
    return {sequence_, skipped, std::nullopt};
  }

 private:
  int32_t ringFrames_;
  int32_t lastIndex_ = -1;
  uint32_t sequence_ = 0;
};

}  // namespace lxsnap
