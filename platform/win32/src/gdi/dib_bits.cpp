// BitBlt (SRCCOPY) into memory DCs and GetDIBits from their bitmaps: bytes
// stay in the screen's pixel format, except that 15-bit pixels leave
// GetDIBits as 5-6-5 so that every 16-bit DIB of the layer reads alike.
#include <windows.h>

#include <algorithm>
#include <cstring>

#include "gdi/dc_state.h"
#include "gdi/device_dc.h"
#include "gdi/gdi_objects.h"
#include "gdi/image_drawing.h"
#include "gdi/pixel_format.h"
#include "gdi/screen_view.h"
#include "gdi/window_dc.h"

namespace {

using namespace lx::win32::gdi;

// The part of a width x height copy from (sx, sy) to (dx, dy) that lies inside
// both surfaces, as offsets into the copy: [x0, x1) x [y0, y1).
struct Clip {
  int64_t x0, x1, y0, y1;
  bool empty() const { return x0 >= x1 || y0 >= y1; }
};

Clip clip(int64_t dx, int64_t dy, int64_t sx, int64_t sy, int64_t width, int64_t height, int64_t dw, int64_t dh,
          int64_t sw, int64_t sh) {
  return {std::max({int64_t{0}, -dx, -sx}), std::min({width, dw - dx, sw - sx}),
          std::max({int64_t{0}, -dy, -sy}), std::min({height, dh - dy, sh - sy})};
}

void copyRect(Bitmap& to, int64_t dx, int64_t dy, const uint8_t* from, uint64_t pitch, int64_t sx, int64_t sy,
              const Clip& c) {
  const uint64_t n = (to.bits + 7) / 8;
  for (int64_t y = c.y0; y < c.y1; ++y) {
    std::memcpy(to.row(static_cast<int>(dy + y)) + n * static_cast<uint64_t>(dx + c.x0),
                from + pitch * static_cast<uint64_t>(sy + y) + n * static_cast<uint64_t>(sx + c.x0),
                n * static_cast<uint64_t>(c.x1 - c.x0));
  }
}

// A row of 5-5-5 words as 5-6-5 words (green's new low bit 0).
void widen555(uint8_t* to, const uint8_t* from, int width) {
  for (int i = 0; i < width; ++i, from += 2, to += 2) {
    const unsigned word = from[0] | (from[1] << 8);
    const unsigned wide = ((word & 0x7C00) << 1) | ((word & 0x03E0) << 1) | (word & 0x001F);
    to[0] = static_cast<uint8_t>(wide);
    to[1] = static_cast<uint8_t>(wide >> 8);
  }
}

void describe(const Bitmap& bitmap, BITMAPINFOHEADER* header) {
  header->biWidth = bitmap.width;
  header->biHeight = bitmap.height;
  header->biPlanes = 1;
  header->biBitCount = static_cast<WORD>(bitmap.reportedBits());
  header->biCompression = BI_RGB;
  header->biSizeImage = static_cast<DWORD>(bitmap.stride * static_cast<uint64_t>(bitmap.height));
  header->biXPelsPerMeter = 0;
  header->biYPelsPerMeter = 0;
  header->biClrUsed = 0;
  header->biClrImportant = 0;
}

// The source rectangle of a blit onto a display or toolkit context, as
// colours: pixels outside the source's surface (for a window's context, its
// client area) are absent. False with the last error set.
bool readSource(HDC source, int x, int y, int width, int height, RgbImage* image) {
  if (uint64_t{static_cast<uint32_t>(width)} * static_cast<uint32_t>(height) > kMaxImagePixels) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  image->width = width;
  image->height = height;
  image->pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), kAbsent);
  const auto read = [&](const uint8_t* pixels, uint64_t pitch, const PixelFormat& format, int64_t originX,
                        int64_t originY, const Clip& c) {
    for (int64_t j = c.y0; j < c.y1; ++j) {
      const uint8_t* from = pixels + pitch * static_cast<uint64_t>(originY + y + j);
      uint32_t* to = image->row(static_cast<int>(j));
      for (int64_t i = c.x0; i < c.x1; ++i) {
        to[i] = decodePixel(format, loadPixel(from + format.bytes() * static_cast<uint64_t>(originX + x + i),
                                              format.bytes()));
      }
    }
  };
  DisplayArea area;
  if (displayArea(source, &area)) {
    const bool screen = withScreenPixels([&](const lxm::wire::DisplayModeRecord& mode, const uint8_t* pixels) {
      const int64_t screenX = int64_t{x} + area.originX, screenY = int64_t{y} + area.originY;
      Clip c = clip(0, 0, screenX, screenY, width, height, width, height, mode.width, mode.height);
      if (area.width != 0) {
        const Clip inWindow = clip(0, 0, x, y, width, height, width, height, area.width, area.height);
        c = {std::max(c.x0, inWindow.x0), std::min(c.x1, inWindow.x1), std::max(c.y0, inWindow.y0),
             std::min(c.y1, inWindow.y1)};
      }
      if (!c.empty()) read(pixels, mode.pitch, formatOf(mode), area.originX, area.originY, c);
    });
    if (!screen) SetLastError(ERROR_DEVICE_NOT_CONNECTED);
    return screen;
  }
  const std::shared_ptr<MemoryDc> from = findDc(source);
  if (from == nullptr) return false;
  if (from->bitmap == nullptr) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
  }
  const Bitmap& bitmap = *from->bitmap;
  const Clip c = clip(0, 0, x, y, width, height, width, height, bitmap.width, bitmap.height);
  if (!c.empty()) {
    read(bitmap.pixels.data(), bitmap.stride, formatOfBits(bitmap.bits), 0, 0, c);
  }
  return true;
}

// SRCCOPY onto the screen's or a window's context (or a toolkit device).
BOOL blitOntoDevice(HDC destination, int x, int y, int width, int height, HDC source, int sourceX, int sourceY) {
  RgbImage image;
  if (width == 0 || height == 0) return TRUE;
  if (!readSource(source, sourceX, sourceY, width, height, &image)) return FALSE;
  return drawImageOn(destination, dcState(destination), x, y, width, height, image, false, false) ? TRUE : FALSE;
}

}  // namespace

WIN32_API BOOL WINAPI BitBlt(HDC destination, int x, int y, int width, int height, HDC source, int sourceX,
                             int sourceY, DWORD rop) {
  std::lock_guard hold(gdiMutex());
  if (isDisplayDc(destination) || isDeviceDc(destination)) {
    if (rop != SRCCOPY || width < 0 || height < 0) {
      SetLastError(rop != SRCCOPY ? ERROR_NOT_SUPPORTED : ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    return blitOntoDevice(destination, x, y, width, height, source, sourceX, sourceY);
  }
  const std::shared_ptr<MemoryDc> to = findDc(destination);
  if (to == nullptr) {
    return FALSE;
  }
  std::shared_ptr<MemoryDc> from;
  DisplayArea area;
  const bool display = displayArea(source, &area);
  if (!display && (from = findDc(source)) == nullptr) {
    return FALSE;
  }
  if (rop != SRCCOPY || to->bitmap == nullptr || (from != nullptr && from->bitmap == nullptr)) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  if (width < 0 || height < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Bitmap& target = *to->bitmap;
  if (from != nullptr) {
    const Bitmap& bitmap = *from->bitmap;
    if (bitmap.bits != target.bits || &bitmap == &target) {
      SetLastError(ERROR_NOT_SUPPORTED);
      return FALSE;
    }
    const Clip c = clip(x, y, sourceX, sourceY, width, height, target.width, target.height, bitmap.width,
                        bitmap.height);
    if (!c.empty()) {
      copyRect(target, x, y, bitmap.pixels.data(), bitmap.stride, sourceX, sourceY, c);
    }
    return TRUE;
  }
  bool sameFormat = false;
  const bool screen = withScreenPixels([&](const lxm::wire::DisplayModeRecord& mode, const uint8_t* pixels) {
    sameFormat = mode.bits == target.bits;
    if (!sameFormat) {
      return;
    }
    // A window's context reads the screen under its client area, no further.
    const int64_t screenX = int64_t{sourceX} + area.originX, screenY = int64_t{sourceY} + area.originY;
    Clip c = clip(x, y, screenX, screenY, width, height, target.width, target.height, mode.width, mode.height);
    if (area.width != 0) {
      const Clip inWindow =
          clip(x, y, sourceX, sourceY, width, height, target.width, target.height, area.width, area.height);
      c = {std::max(c.x0, inWindow.x0), std::min(c.x1, inWindow.x1), std::max(c.y0, inWindow.y0),
           std::min(c.y1, inWindow.y1)};
    }
    if (!c.empty()) {
      copyRect(target, x, y, pixels, mode.pitch, screenX, screenY, c);
    }
  });
  if (!screen || !sameFormat) {
    SetLastError(screen ? ERROR_NOT_SUPPORTED : ERROR_DEVICE_NOT_CONNECTED);  // the mode changed, or no screen
    return FALSE;
  }
  return TRUE;
}

WIN32_API int WINAPI GetDIBits(HDC dc, HBITMAP bitmapHandle, UINT start, UINT lines, LPVOID bits, LPBITMAPINFO info,
                               UINT usage) {
  std::lock_guard hold(gdiMutex());
  if (!isDisplayDc(dc) && findDc(dc) == nullptr) {
    return 0;
  }
  const std::shared_ptr<Bitmap> bitmap = findBitmap(bitmapHandle);
  if (bitmap == nullptr) {
    return 0;
  }
  if (info == nullptr || usage != DIB_RGB_COLORS || info->bmiHeader.biSize < sizeof(BITMAPINFOHEADER)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  BITMAPINFOHEADER& header = info->bmiHeader;
  if (bits == nullptr && header.biBitCount == 0) {
    describe(*bitmap, &header);
    return bitmap->height;
  }
  const bool bottomUp = header.biHeight > 0;
  if (header.biBitCount != bitmap->reportedBits() || header.biCompression != BI_RGB ||
      header.biWidth != bitmap->width || (header.biHeight != bitmap->height && header.biHeight != -bitmap->height)) {
    SetLastError(ERROR_INVALID_PARAMETER);  // no conversion between formats
    return 0;
  }
  const LONG signedHeight = header.biHeight;
  describe(*bitmap, &header);
  header.biHeight = signedHeight;
  if (bitmap->bits == 8) {
    // The table runs past bmiColors[1] into the caller's 256 entries.
    auto* colours = reinterpret_cast<RGBQUAD*>(reinterpret_cast<uint8_t*>(info) + sizeof(BITMAPINFOHEADER));
    for (int i = 0; i < 256; ++i) {
      colours[i] = {static_cast<BYTE>(i), static_cast<BYTE>(i), static_cast<BYTE>(i), 0};
    }
  }
  if (bits == nullptr) {
    return bitmap->height;
  }
  const uint64_t height = static_cast<uint64_t>(bitmap->height);
  const uint64_t first = std::min<uint64_t>(start, height);
  const uint64_t last = std::min<uint64_t>(uint64_t{start} + lines, height);
  auto* out = static_cast<uint8_t*>(bits);
  for (uint64_t k = first; k < last; ++k) {
    const uint8_t* row = bitmap->row(static_cast<int>(bottomUp ? height - 1 - k : k));
    uint8_t* to = out + (k - first) * bitmap->stride;
    if (bitmap->bits == 15) {
      widen555(to, row, bitmap->width);
      std::memset(to + 2 * static_cast<uint64_t>(bitmap->width), 0, bitmap->stride - 2 * bitmap->width);
    } else {
      std::memcpy(to, row, bitmap->stride);
    }
  }
  return static_cast<int>(last - first);
}
