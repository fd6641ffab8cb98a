// One card snapping frames into a ring of the static memory; each completed
// frame is copied out of the ring, on the library's thread, into a queue.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "frame_queue.h"
#include "lx/snap_ex.h"
#include "lx/video.h"
#include "video_settings.h"

namespace lxgst {

class CardStream {
 public:
  explicit CardStream(FrameQueue& queue) : queue_(queue) {}
  ~CardStream();
  CardStream(const CardStream&) = delete;
  CardStream& operator=(const CardStream&) = delete;

  // Opens the card, applies the settings and starts snapping. On failure
  // everything is undone, and *what says which step failed and why.
  bool start(const VideoSettings& settings, std::string* what);
  // Stops and closes the card; no frame is pushed after it returns.
  void stop();

  uint32_t ringFrames() const { return ringFrames_; }

 private:
  static int32_t onFrame(SnapExInfo* info);
  bool fail(const std::string& step, LxStatus status, std::string* what);

  FrameQueue& queue_;
  LxCardHandle card_ = nullptr;
  LxStaticMemLockHandle lock_ = nullptr;
  const uint8_t* ring_ = nullptr;
  uint64_t frameBytes_ = 0;
  uint32_t ringFrames_ = 0;
  bool snapExOpen_ = false;
};

}  // namespace lxgst
