// Drawing a picture of colours on any device context: its raster (the
// screen's video memory, a bitmap) or its toolkit device.
#pragma once

#include <windows.h>

#include <cstdint>

#include "gdi/dc_state.h"
#include "gdi/rgb_image.h"

namespace lx::win32::gdi {

// Draws the image over (left, top, width, height), context coordinates,
// mirrored as asked (the image may be changed). Runs under gdiMutex(); false
// with the last error set.
bool drawImageOn(HDC dc, const DcState& state, int64_t left, int64_t top, int64_t width, int64_t height,
                 RgbImage& image, bool mirrorX, bool mirrorY);

}  // namespace lx::win32::gdi
