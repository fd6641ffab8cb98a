#include "frame_queue.h"

#include <utility>

namespace lxgst {

FrameQueue::FrameQueue(size_t capacity) : capacity_(capacity == 0 ? 1 : capacity) {}

void FrameQueue::open() {
  std::lock_guard lock(mutex_);
  frames_.clear();
  droppedSkips_ = 0;
  closed_ = false;
}

void FrameQueue::close() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }
  ready_.notify_all();
}

void FrameQueue::push(CapturedFrame frame) {
  {
    std::lock_guard lock(mutex_);
    if (closed_) {
      return;
    }
    if (frames_.size() == capacity_) {
      CapturedFrame& oldest = frames_.front();
      droppedSkips_ += oldest.skipped + 1;
      frames_.pop_front();
    }
    frames_.push_back(std::move(frame));
  }
  ready_.notify_one();
}

PopResult FrameQueue::pop(CapturedFrame* frame, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  if (!ready_.wait_for(lock, timeout, [this] { return closed_ || !frames_.empty(); })) {
    return PopResult::TimedOut;
  }
  if (closed_) {
    return PopResult::Closed;
  }
  *frame = std::move(frames_.front());
  frames_.pop_front();
  frame->skipped += droppedSkips_;
  droppedSkips_ = 0;
  return PopResult::Frame;
}

}  // namespace lxgst
