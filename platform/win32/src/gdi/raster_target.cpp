#include "gdi/raster_target.h"

#include <algorithm>

#include "gdi/gdi_objects.h"
#include "gdi/screen_view.h"
#include "gdi/window_dc.h"
#include "user/gui_bridge.h"

namespace lx::win32::gdi {
namespace {

RECT intersect(const RECT& a, const RECT& b) {
  return RECT{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
              std::min(a.bottom, b.bottom)};
}

bool isEmpty(const RECT& r) { return r.left >= r.right || r.top >= r.bottom; }

// The visible part of a window's client area on the screen, or false when
// the window is gone.
bool visibleRects(HWND window, std::vector<RECT>* rects) {
  const Win32GuiBridge* bridge = user::guiBridge();
  if (bridge == nullptr) return false;
  rects->assign(16, RECT{});
  for (int attempt = 0; attempt < 4; ++attempt) {
    const int count = bridge->visibleRegion(window, rects->data(), static_cast<int>(rects->size()));
    if (count < 0) return false;
    if (static_cast<size_t>(count) <= rects->size()) {
      rects->resize(static_cast<size_t>(count));
      return true;
    }
    rects->assign(static_cast<size_t>(count), RECT{});  // it grew: read again
  }
  return false;
}

// Writes an encoded pixel over a span of a row.
void fillSpan(uint8_t* at, uint32_t bytes, uint32_t pixel, LONG count) {
  if (bytes == 4) {
    std::fill_n(reinterpret_cast<uint32_t*>(at), count, pixel);  // rows and pitch keep 4-byte alignment
    return;
  }
  for (LONG i = 0; i < count; ++i, at += bytes) storePixel(at, bytes, pixel);
}

bool standard32(const PixelFormat& f) {
  return f.bits == 32 && f.redMask == 0xFF0000 && f.greenMask == 0x00FF00 && f.blueMask == 0x0000FF;
}

}  // namespace

bool withRasterTarget(HDC dc, const std::function<void(RasterTarget&)>& draw) {
  if (isDisplayDc(dc)) {
    DisplayArea area;
    std::vector<RECT> visible;
    const HWND window = windowOfDc(dc);
    if (!displayArea(dc, &area) || (window != nullptr && !visibleRects(window, &visible))) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return false;
    }
    const bool screen = withWritableScreenPixels([&](const lxm::wire::DisplayModeRecord& mode, uint8_t* pixels) {
      RasterTarget target;
      target.pixels = pixels;
      target.pitch = mode.pitch;
      target.format = formatOf(mode);
      target.originX = area.originX;
      target.originY = area.originY;
      const RECT bounds{0, 0, static_cast<LONG>(mode.width), static_cast<LONG>(mode.height)};
      if (window == nullptr) {
        target.clip.push_back(bounds);
      } else {
        for (const RECT& r : visible) {
          const RECT inside = intersect(r, bounds);
          if (!isEmpty(inside)) target.clip.push_back(inside);
        }
      }
      draw(target);
    });
    if (!screen) SetLastError(ERROR_DEVICE_NOT_CONNECTED);
    return screen;
  }
  const std::shared_ptr<MemoryDc> memory = findDc(dc);
  if (memory == nullptr) return false;
  if (memory->bitmap == nullptr) {
    SetLastError(ERROR_NOT_SUPPORTED);  // the monochrome stock bitmap
    return false;
  }
  Bitmap& bitmap = *memory->bitmap;
  RasterTarget target;
  target.pixels = bitmap.pixels.data();
  target.pitch = bitmap.stride;
  target.format = formatOfBits(bitmap.bits);
  target.clip.push_back(RECT{0, 0, bitmap.width, bitmap.height});
  draw(target);
  return true;
}

void fillRaster(RasterTarget& target, const RECT& rect, uint32_t rgb) {
  const RECT onTarget{rect.left + target.originX, rect.top + target.originY, rect.right + target.originX,
                      rect.bottom + target.originY};
  const uint32_t pixel = encodePixel(target.format, rgb);
  const uint32_t bytes = target.format.bytes();
  for (const RECT& c : target.clip) {
    const RECT r = intersect(onTarget, c);
    if (isEmpty(r)) continue;
    for (LONG y = r.top; y < r.bottom; ++y) {
      fillSpan(target.pixels + target.pitch * static_cast<uint64_t>(y) + uint64_t{bytes} * static_cast<uint64_t>(r.left),
               bytes, pixel, r.right - r.left);
    }
  }
}

void stretchToRaster(RasterTarget& target, const RECT& destination, const RgbImage& image, bool mirrorX,
                     bool mirrorY) {
  // Destination rectangle on the target; offsets i, j in it pick source
  // column i * w / W and row j * h / H (mirrored: counted from the far end).
  const int64_t left = int64_t{destination.left} + target.originX;
  const int64_t top = int64_t{destination.top} + target.originY;
  const int64_t destWidth = int64_t{destination.right} - destination.left;
  const int64_t destHeight = int64_t{destination.bottom} - destination.top;
  if (destWidth <= 0 || destHeight <= 0 || image.width <= 0 || image.height <= 0) return;
  const uint32_t bytes = target.format.bytes();
  const bool direct = standard32(target.format);
  for (const RECT& c : target.clip) {
    const int64_t x0 = std::max<int64_t>(c.left, left), x1 = std::min<int64_t>(c.right, left + destWidth);
    const int64_t y0 = std::max<int64_t>(c.top, top), y1 = std::min<int64_t>(c.bottom, top + destHeight);
    if (x0 >= x1 || y0 >= y1) continue;
    for (int64_t y = y0; y < y1; ++y) {
      int64_t j = y - top;
      if (mirrorY) j = destHeight - 1 - j;
      const uint32_t* from = image.row(static_cast<int>(j * image.height / destHeight));
      uint8_t* to = target.pixels + target.pitch * static_cast<uint64_t>(y) + uint64_t{bytes} * static_cast<uint64_t>(x0);
      for (int64_t x = x0; x < x1; ++x, to += bytes) {
        int64_t i = x - left;
        if (mirrorX) i = destWidth - 1 - i;
        const uint32_t rgb = from[i * image.width / destWidth];
        if (rgb & kAbsent) continue;
        storePixel(to, bytes, direct ? rgb : encodePixel(target.format, rgb));
      }
    }
  }
}

}  // namespace lx::win32::gdi
