#include "gdi/image_drawing.h"

#include <algorithm>
#include <climits>

#include "gdi/device_dc.h"
#include "gdi/raster_target.h"

namespace lx::win32::gdi {
namespace {

bool fitsLong(int64_t v) { return v >= LONG_MIN && v <= LONG_MAX; }

}  // namespace

// Draws an extracted source image over the destination; false with the last
// error set.
bool drawImageOn(HDC dc, const DcState& state, int64_t left, int64_t top, int64_t width, int64_t height, RgbImage& image,
               bool mirrorX, bool mirrorY) {
  if (!fitsLong(left) || !fitsLong(top) || !fitsLong(left + width) || !fitsLong(top + height)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  const RECT destination{static_cast<LONG>(left), static_cast<LONG>(top), static_cast<LONG>(left + width),
                         static_cast<LONG>(top + height)};
  Win32DrawDevice device{};
  if (findDeviceDc(dc, &device)) {
    // The device takes plain top-down colours: mirror here, absent is black.
    for (int y = 0; y < image.height; ++y) {
      uint32_t* row = image.row(y);
      for (int x = 0; x < image.width; ++x) row[x] &= ~kAbsent;
      if (mirrorX) std::reverse(row, row + image.width);
    }
    if (mirrorY) {
      for (int y = 0; y < image.height / 2; ++y) {
        std::swap_ranges(image.row(y), image.row(y) + image.width, image.row(image.height - 1 - y));
      }
    }
    if (!device.drawImage(device.context, &destination, image.pixels.data(), image.width, image.height,
                          image.width * 4, state.stretchMode)) {
      SetLastError(ERROR_INVALID_FUNCTION);
      return false;
    }
    return true;
  }
  return withRasterTarget(dc, [&](RasterTarget& target) {
    stretchToRaster(target, destination, image, mirrorX, mirrorY);
  });
}

}  // namespace lx::win32::gdi
