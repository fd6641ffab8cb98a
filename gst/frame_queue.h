// Frames copied out of the ring on the snap-ex thread, waiting for the
// streaming thread. Bounded: when the consumer falls behind, the oldest
// waiting frame goes and is counted, so the newest picture is what comes out.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

namespace lxgst {

struct CapturedFrame {
  std::vector<uint8_t> bytes;
  uint64_t timestampNs = 0;  // CLOCK_MONOTONIC of the field end that completed it
  uint32_t sequence = 0;     // frames the card completed since the start, this one included
  uint32_t skipped = 0;      // frames lost before this one: by the card's account and by this queue
};

enum class PopResult { Frame, TimedOut, Closed };

class FrameQueue {
 public:
  explicit FrameQueue(size_t capacity);

  // Reopens a closed queue, empty.
  void open();
  // Wakes every waiting pop; later pops return Closed until open().
  void close();

  // Dropped when closed. A frame dropped for room adds itself, and the
  // frames it carried as skipped, to the next frame that comes out.
  void push(CapturedFrame frame);
  PopResult pop(CapturedFrame* frame, std::chrono::milliseconds timeout);

 private:
  const size_t capacity_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<CapturedFrame> frames_;
  uint32_t droppedSkips_ = 0;
  bool closed_ = false;
};

}  // namespace lxgst
