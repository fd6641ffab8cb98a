// An open card for the length of a command, set up as the command line says,
// and the shape of the frames it then delivers into the static memory.
#pragma once

#include <cstdint>

#include "command_line.h"
#include "lx/status.h"
#include "lx/video_card.h"

namespace lxsnap {

// A frame as the card lays it into the static memory: `lines` lines of
// width x bytesPerPixel bytes, no gaps, top line first (frame mode: the two
// fields interleaved).
struct FrameLayout {
  uint32_t width = 0;
  uint32_t lines = 0;
  int32_t format = 0;
  uint32_t bytesPerPixel = 0;
  uint32_t lineBytes() const { return width * bytesPerPixel; }
  uint32_t bytes() const { return lineBytes() * lines; }
};

// The API's own arithmetic: half the window height a field, twice that in frame mode.
FrameLayout frameLayoutOf(const VideoSettings& video);

// Ends the card when it goes; a refused end is reported on stderr.
class CardSession {
 public:
  CardSession() = default;
  CardSession(const CardSession&) = delete;
  CardSession& operator=(const CardSession&) = delete;
  ~CardSession();

  // Opens card `cardIndex`; on failure prints why and returns false.
  bool open(int32_t cardIndex);
  // Input, standard, format, scan mode and windows; prints the first refusal.
  bool apply(const VideoSettings& video);
  LxCardHandle handle() const { return handle_; }

 private:
  LxCardHandle handle_ = nullptr;
  int32_t cardIndex_ = 0;
};

}  // namespace lxsnap
