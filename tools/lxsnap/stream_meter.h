// Tallies of a continuous snap, written by the callback thread and read by
// the thread that prints, and the lines that show them.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "frame_tick.h"

namespace lxsnap {

struct StreamReading {
  uint64_t delivered = 0;  // callbacks
  uint64_t skipped = 0;    // frames made and not reported
  uint32_t sequence = 0;   // the card's frame count at the last callback
  uint64_t latencyCount = 0;
  uint64_t latencySumNs = 0;
  uint64_t latencyMaxNs = 0;
};

class StreamMeter {
 public:
  void record(const FrameTick& tick);
  StreamReading read() const;

 private:
  std::atomic<uint64_t> delivered_{0};
  std::atomic<uint64_t> skipped_{0};
  std::atomic<uint32_t> sequence_{0};
  std::atomic<uint64_t> latencyCount_{0};
  std::atomic<uint64_t> latencySumNs_{0};
  std::atomic<uint64_t> latencyMaxNs_{0};
};

// "[#####.....]  50%" for `elapsed` of `total` seconds, `width` marks wide.
std::string progressBar(double elapsedSeconds, double totalSeconds, int width);

// One live line: the rate and latency over the interval since `previous`,
// the totals so far, and a progress bar when totalSeconds is long.
std::string liveLine(const StreamReading& now, const StreamReading& previous, double intervalSeconds,
                     double elapsedSeconds, double totalSeconds);

// The closing line: callbacks, frames/s, skipped, latency over the whole run.
std::string summaryLine(const StreamReading& total, double elapsedSeconds);

// Runs of at least this many seconds show a progress bar.
inline constexpr double kProgressBarSeconds = 5;

}  // namespace lxsnap
