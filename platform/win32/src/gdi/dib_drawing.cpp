// StretchDIBits and SetDIBitsToDevice: a DIB's source rectangle becomes
// colours, then lands on the context's raster (the screen's video memory or
// a bitmap) or goes to its toolkit device.
#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstdint>

#include "gdi/dc_state.h"
#include "gdi/device_dc.h"
#include "gdi/dib_source.h"
#include "gdi/gdi_objects.h"
#include "gdi/image_drawing.h"

namespace {

using namespace lx::win32::gdi;

// An edge of a rectangle given as start and signed extent, made start and
// positive extent; a negative extent mirrors.
void normalise(int64_t* start, int64_t* extent, bool* mirror) {
  if (*extent < 0) {
    *start += *extent;
    *extent = -*extent;
    *mirror = !*mirror;
  }
}

}  // namespace

WIN32_API int WINAPI StretchDIBits(HDC dc, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc,
                                   int srcWidth, int srcHeight, const void* bits, const BITMAPINFO* info, UINT usage,
                                   DWORD rop) {
  std::lock_guard hold(gdiMutex());
  if (!isDeviceContext(dc)) return 0;
  if (rop != SRCCOPY) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return 0;
  }
  if (destWidth == 0 || destHeight == 0 || srcWidth == 0 || srcHeight == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const DcState& state = dcState(dc);
  DibSource source;
  if (!source.parse(info, bits, usage, state, 0, UINT64_MAX)) return 0;
  bool mirrorX = false, mirrorY = false;
  int64_t sx = xSrc, sw = srcWidth, sy = ySrc, sh = srcHeight;
  int64_t dx = xDest, dw = destWidth, dy = yDest, dh = destHeight;
  normalise(&sx, &sw, &mirrorX);
  normalise(&sy, &sh, &mirrorY);
  normalise(&dx, &dw, &mirrorX);
  normalise(&dy, &dh, &mirrorY);
  // A bottom-up DIB's source origin is its lower-left corner.
  const int64_t top = source.bottomUp() ? source.height() - sy - sh : sy;
  RgbImage image;
  if (!source.extract(sx, top, sw, sh, &image)) return 0;
  if (!drawImageOn(dc, state, dx, dy, dw, dh, image, mirrorX, mirrorY)) return 0;
  return static_cast<int>(sh);
}

WIN32_API int WINAPI SetDIBitsToDevice(HDC dc, int xDest, int yDest, DWORD width, DWORD height, int xSrc, int ySrc,
                                       UINT startScan, UINT lines, const void* bits, const BITMAPINFO* info,
                                       UINT usage) {
  std::lock_guard hold(gdiMutex());
  if (!isDeviceContext(dc)) return 0;
  if (width > INT_MAX || height > INT_MAX) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const DcState& state = dcState(dc);
  DibSource source;
  if (!source.parse(info, bits, usage, state, startScan, lines)) return 0;
  // Unscaled, so the part outside the DIB can be cut off exactly: a huge
  // rectangle over a small DIB costs only the DIB.
  int64_t left = xSrc, top = source.bottomUp() ? int64_t{source.height()} - ySrc - height : ySrc;
  int64_t x = xDest, y = yDest, w = width, h = height;
  if (left < 0) x -= left, w += left, left = 0;
  if (top < 0) y -= top, h += top, top = 0;
  w = std::min<int64_t>(w, source.width() - left);
  h = std::min<int64_t>(h, source.height() - top);
  if (w <= 0 || h <= 0) return static_cast<int>(lines);
  RgbImage image;
  if (!source.extract(left, top, w, h, &image)) return 0;
  if (!drawImageOn(dc, state, x, y, w, h, image, false, false)) return 0;
  return static_cast<int>(lines);
}

WIN32_API int WINAPI SetStretchBltMode(HDC dc, int mode) {
  std::lock_guard hold(gdiMutex());
  if (!isDeviceContext(dc)) return 0;
  if (mode < BLACKONWHITE || mode > HALFTONE) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  DcState& state = dcState(dc);
  const int previous = state.stretchMode;
  state.stretchMode = mode;
  return previous;
}

WIN32_API int WINAPI GetStretchBltMode(HDC dc) {
  std::lock_guard hold(gdiMutex());
  if (!isDeviceContext(dc)) return 0;
  return dcState(dc).stretchMode;
}
