// How a frame of the output window lies in the static memory: rows of
// width x bytes-per-pixel bytes, packed, top-down; an output window of height
// H stores H / 2 lines a field (odd heights lose their last line); frame mode
// stores both fields, the single-field modes one.
#pragma once

#include <cstdint>

#include "lx/video_types.h"

namespace lxvideo {

// Lines of one field for an output window `height` lines high.
constexpr int32_t fieldLinesOf(int32_t height) { return height / 2; }

// Rows one frame stores in the static memory.
constexpr uint64_t storedRows(int32_t scanMode, int32_t fieldLines) {
  return uint64_t{static_cast<uint32_t>(fieldLines)} * (scanMode == LX_SCAN_MODE_FRAME ? 2 : 1);
}

// Bytes of one frame, counted in 64 bits.
constexpr uint64_t frameBytes(int32_t scanMode, int32_t width, int32_t fieldLines, int32_t bytesPerPixel) {
  return storedRows(scanMode, fieldLines) * static_cast<uint32_t>(width) * static_cast<uint32_t>(bytesPerPixel);
}

}  // namespace lxvideo
