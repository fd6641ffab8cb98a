#include "screen.h"

#include <windows.h>

namespace lxvideo {

int32_t screenWidth() { return GetSystemMetrics(SM_CXSCREEN); }

int32_t screenHeight() { return GetSystemMetrics(SM_CYSCREEN); }

int32_t screenBitsPerPixel() {
  HDC screen = GetDC(nullptr);
  if (screen == nullptr) {
    return 0;
  }
  const int32_t bits = GetDeviceCaps(screen, PLANES) * GetDeviceCaps(screen, BITSPIXEL);
  ReleaseDC(nullptr, screen);
  return bits;
}

}  // namespace lxvideo
