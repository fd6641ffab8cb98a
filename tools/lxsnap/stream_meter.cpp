#include "stream_meter.h"

#include <algorithm>
#include <cstdio>

namespace lxsnap {

namespace {

std::string format(const char* pattern, double a, double b = 0) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, a, b);
  return text;
}

double perSecond(uint64_t count, double seconds) { return seconds > 0 ? static_cast<double>(count) / seconds : 0; }

std::string latencyText(uint64_t count, uint64_t sumNs, uint64_t maxNs) {
  if (count == 0) {
    return "latency n/a";
  }
  return format("latency %.2f ms (max %.2f)", static_cast<double>(sumNs) / static_cast<double>(count) / 1e6,
                static_cast<double>(maxNs) / 1e6);
}

}  // namespace

void StreamMeter::record(const FrameTick& tick) {
  skipped_.fetch_add(tick.skipped, std::memory_order_relaxed);
  sequence_.store(tick.sequence, std::memory_order_relaxed);
  if (tick.latencyNs) {
    latencySumNs_.fetch_add(*tick.latencyNs, std::memory_order_relaxed);
    uint64_t highest = latencyMaxNs_.load(std::memory_order_relaxed);
    while (*tick.latencyNs > highest &&
           !latencyMaxNs_.compare_exchange_weak(highest, *tick.latencyNs, std::memory_order_relaxed)) {
    }
    latencyCount_.fetch_add(1, std::memory_order_relaxed);
  }
  // Last, and released: a reader that sees this count sees the rest of the frame.
  delivered_.fetch_add(1, std::memory_order_release);
}

StreamReading StreamMeter::read() const {
  StreamReading reading;
  reading.delivered = delivered_.load(std::memory_order_acquire);
  reading.skipped = skipped_.load(std::memory_order_relaxed);
  reading.sequence = sequence_.load(std::memory_order_relaxed);
  reading.latencyCount = latencyCount_.load(std::memory_order_relaxed);
  reading.latencySumNs = latencySumNs_.load(std::memory_order_relaxed);
  reading.latencyMaxNs = latencyMaxNs_.load(std::memory_order_relaxed);
  return reading;
}

std::string progressBar(double elapsedSeconds, double totalSeconds, int width) {
  const double share = totalSeconds > 0 ? std::clamp(elapsedSeconds / totalSeconds, 0.0, 1.0) : 0;
  const int done = static_cast<int>(share * width);
  return "[" + std::string(static_cast<size_t>(done), '#') + std::string(static_cast<size_t>(width - done), '.') +
         "] " + format("%3.0f%%", share * 100);
}

std::string liveLine(const StreamReading& now, const StreamReading& previous, double intervalSeconds,
                     double elapsedSeconds, double totalSeconds) {
  std::string line = format("%6.1f s  %5.1f frames/s", elapsedSeconds,
                            perSecond(now.delivered - previous.delivered, intervalSeconds));
  line += "  " + std::to_string(now.delivered) + " frames  skipped " + std::to_string(now.skipped) + "  ";
  line += latencyText(now.latencyCount - previous.latencyCount, now.latencySumNs - previous.latencySumNs,
                      now.latencyMaxNs);
  if (totalSeconds >= kProgressBarSeconds) {
    line += "  " + progressBar(elapsedSeconds, totalSeconds, 20);
  }
  return line;
}

std::string summaryLine(const StreamReading& total, double elapsedSeconds) {
  return std::to_string(total.delivered) + " frames in " + format("%.1f s: %.1f frames/s", elapsedSeconds,
                                                                  perSecond(total.delivered, elapsedSeconds)) +
         ", skipped " + std::to_string(total.skipped) + ", " +
         latencyText(total.latencyCount, total.latencySumNs, total.latencyMaxNs);
}

}  // namespace lxsnap
