// The pixels a device context draws on when they are ours to write: the
// screen's video memory (the screen's and windows' contexts) or a memory
// context's bitmap. All functions run under gdiMutex().
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "gdi/pixel_format.h"
#include "gdi/rgb_image.h"

namespace lx::win32::gdi {

struct RasterTarget {
  uint8_t* pixels = nullptr;
  uint64_t pitch = 0;
  PixelFormat format;
  LONG originX = 0;  // where the context's (0, 0) lies on the pixels
  LONG originY = 0;
  std::vector<RECT> clip;  // disjoint rectangles of the pixels it may write
};

// Runs `draw` with the raster of dc, with the screen held while it runs.
// False, without calling it, with the last error set: ERROR_INVALID_HANDLE
// for a value that is no display or memory context, ERROR_NOT_SUPPORTED for
// a memory context without a bitmap, ERROR_DEVICE_NOT_CONNECTED without a
// screen, ERROR_INVALID_WINDOW_HANDLE when the window is gone.
bool withRasterTarget(HDC dc, const std::function<void(RasterTarget&)>& draw);

// Fills [left, right) x [top, bottom), context coordinates, with a colour.
void fillRaster(RasterTarget& target, const RECT& rect, uint32_t rgb);

// Draws the image over the destination rectangle (context coordinates,
// normalised) by nearest source pixel, mirrored as asked; absent pixels are
// not drawn.
void stretchToRaster(RasterTarget& target, const RECT& destination, const RgbImage& image, bool mirrorX,
                     bool mirrorY);

}  // namespace lx::win32::gdi
