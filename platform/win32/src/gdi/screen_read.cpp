// Win32ReadScreen: the screen's pixels for a toolkit view that shows them,
// with a fingerprint of the raw pixels so that polling an unchanged screen
// costs one pass over the bytes and no conversion.
#include <windows.h>
#include <win32/gui_bridge.h>

#include <algorithm>
#include <cstring>

#include "gdi/pixel_format.h"
#include "gdi/screen_view.h"

namespace {

using namespace lx::win32::gdi;

uint64_t mix(uint64_t hash, uint64_t word) {
  hash ^= word;
  hash *= 0x9E3779B97F4A7C15ull;
  return hash ^ (hash >> 29);
}

uint64_t hashBytes(uint64_t hash, const uint8_t* bytes, uint64_t count) {
  uint64_t i = 0;
  for (; i + 8 <= count; i += 8) {
    uint64_t word = 0;
    std::memcpy(&word, bytes + i, 8);
    hash = mix(hash, word);
  }
  uint64_t tail = 0;
  std::memcpy(&tail, bytes + i, count - i);
  return mix(hash, tail ^ (count << 56));
}

}  // namespace

WIN32_API int WINAPI Win32ReadScreen(int x, int y, int width, int height, DWORD* pixels, int stride,
                                     ULONGLONG* fingerprint) {
  if (pixels == nullptr || fingerprint == nullptr || width <= 0 || height <= 0 ||
      stride / 4 < width) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  int result = -1;
  withScreenPixels([&](const lxm::wire::DisplayModeRecord& mode, const uint8_t* screen) {
    const PixelFormat format = formatOf(mode);
    const uint32_t bytes = format.bytes();
    const int64_t x0 = std::max<int64_t>(x, 0), x1 = std::min<int64_t>(int64_t{x} + width, mode.width);
    const int64_t y0 = std::max<int64_t>(y, 0), y1 = std::min<int64_t>(int64_t{y} + height, mode.height);
    uint64_t hash = mix(mix(0x51ED270B4A3F1C07ull, (uint64_t{mode.width} << 32) | mode.height),
                        (uint64_t{mode.bits} << 32) | mode.pitch);
    hash = mix(mix(hash, (uint64_t(uint32_t(x)) << 32) | uint32_t(y)), (uint64_t(uint32_t(width)) << 32) | uint32_t(height));
    if (x0 < x1) {
      for (int64_t row = y0; row < y1; ++row) {
        hash = hashBytes(hash, screen + uint64_t{mode.pitch} * row + bytes * x0, bytes * (x1 - x0));
      }
    }
    if (hash == 0) hash = 1;
    if (hash == *fingerprint) {
      result = 0;
      return;
    }
    *fingerprint = hash;
    for (int row = 0; row < height; ++row) {
      DWORD* to = reinterpret_cast<DWORD*>(reinterpret_cast<uint8_t*>(pixels) + int64_t{stride} * row);
      const int64_t sy = int64_t{y} + row;
      if (sy < y0 || sy >= y1 || x0 >= x1) {
        std::fill_n(to, width, 0u);
        continue;
      }
      const uint8_t* from = screen + uint64_t{mode.pitch} * sy;
      for (int col = 0; col < width; ++col) {
        const int64_t sx = int64_t{x} + col;
        to[col] = sx < x0 || sx >= x1 ? 0u : decodePixel(format, loadPixel(from + bytes * sx, bytes));
      }
    }
    result = 1;
  });
  if (result < 0) SetLastError(ERROR_DEVICE_NOT_CONNECTED);
  return result;
}
