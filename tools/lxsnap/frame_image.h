// A snapped frame turned into an image for a file: 8-bit grey for the grey
// formats, 24-bit colour (blue, green, red bytes) for all others.
#pragma once

#include <cstdint>
#include <vector>

#include "card_session.h"
#include "lx/status.h"

namespace lxsnap {

struct Image {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t channels = 0;       // 1 grey, 3 blue-green-red
  std::vector<uint8_t> pixels;  // top line first, lines of width x channels bytes, no gaps
};

bool isGreyFormat(int32_t format);

// Converts the frame at `frame` (layout.bytes() bytes) with the snap-ex
// library's LxDataTransform; YUV 4:2:2 is converted here (BT.601 studio range).
LxStatus frameToImage(const uint8_t* frame, const FrameLayout& layout, Image* image);

// One YUV 4:2:2 line (Y0 U Y1 V per pixel pair) as blue, green, red bytes.
void yuv422LineToBgr(const uint8_t* line, uint32_t width, uint8_t* bgr);

}  // namespace lxsnap
