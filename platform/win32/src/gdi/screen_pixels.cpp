// GetPixel on the screen's device context: the display adapter's video
// memory, mapped once into the process and read in the display's format.
#include <windows.h>

#include <bit>
#include <chrono>
#include <cstring>
#include <mutex>

#include "client/machine_session.h"
#include "ddraw/primary_surface.h"
#include "gdi/screen_view.h"
#include "gdi/window_dc.h"

namespace {

using lx::win32::gdi::kScreenDc;

// How long a mode read from the machine is trusted before it is asked again,
// so that a mode change reaches the reader (at once through a new device
// context, see expireScreenView).
constexpr std::chrono::milliseconds kModeLifetime{100};

struct ScreenView {
  std::mutex mutex;
  lxm::wire::DisplayModeRecord mode{};
  std::chrono::steady_clock::time_point taken{};
  uint8_t* pixels = nullptr;  // mapped for reading and writing
};

ScreenView& screenView() {
  static ScreenView view;
  return view;
}

// Refreshes the mode and the mapping when due; false without a screen.
bool refresh(ScreenView& view) {
  const auto now = std::chrono::steady_clock::now();
  if (view.pixels != nullptr && now - view.taken < kModeLifetime) {
    return true;
  }
  lxm::wire::DisplayModeRecord mode{};
  if (!lx::win32::ddraw::queryDisplayMode(&mode)) {
    return false;
  }
  if (view.pixels == nullptr || std::memcmp(&mode, &view.mode, sizeof mode) != 0) {
    if (view.pixels != nullptr) {
      lx::win32::client::unmapPhysicalView(view.pixels);
      view.pixels = nullptr;
    }
    const uint64_t bytes = uint64_t{mode.pitch} * mode.height;
    if (bytes == 0 || bytes > mode.frameBufferSize) {
      return false;
    }
    view.pixels = static_cast<uint8_t*>(lx::win32::client::mapPhysicalView(mode.frameBufferPhysical, bytes));
    if (view.pixels == nullptr) {
      return false;
    }
    view.mode = mode;
  }
  view.taken = now;
  return true;
}

// A channel of a pixel by its mask, widened to 8 bits.
BYTE channel(uint32_t pixel, uint32_t mask) {
  if (mask == 0) {
    return 0;
  }
  const int width = std::popcount(mask);
  const uint32_t value = (pixel & mask) >> std::countr_zero(mask);
  if (width >= 8) {
    return static_cast<BYTE>(value >> (width - 8));
  }
  return static_cast<BYTE>((value << (8 - width)) | (value >> (2 * width - 8 > 0 ? 2 * width - 8 : 0)));
}

}  // namespace

void lx::win32::gdi::expireScreenView() {
  ScreenView& view = screenView();
  std::lock_guard hold(view.mutex);
  view.taken = {};
}

bool lx::win32::gdi::withScreenPixels(
    const std::function<void(const lxm::wire::DisplayModeRecord&, const uint8_t*)>& use) {
  ScreenView& view = screenView();
  std::lock_guard hold(view.mutex);
  if (!refresh(view)) {
    return false;
  }
  use(view.mode, view.pixels);
  return true;
}

bool lx::win32::gdi::withWritableScreenPixels(
    const std::function<void(const lxm::wire::DisplayModeRecord&, uint8_t*)>& use) {
  ScreenView& view = screenView();
  std::lock_guard hold(view.mutex);
  if (!refresh(view)) {
    return false;
  }
  use(view.mode, view.pixels);
  return true;
}

WIN32_API COLORREF WINAPI GetPixel(HDC dc, int x, int y) {
  lx::win32::gdi::DisplayArea area;
  if (!lx::win32::gdi::displayArea(dc, &area)) {
    return CLR_INVALID;
  }
  if (area.width != 0 && (x < 0 || y < 0 || x >= area.width || y >= area.height)) {
    return CLR_INVALID;  // outside the window's client area
  }
  x += area.originX;
  y += area.originY;
  ScreenView& view = screenView();
  std::lock_guard hold(view.mutex);
  if (!refresh(view)) {
    return CLR_INVALID;
  }
  const lxm::wire::DisplayModeRecord& mode = view.mode;
  if (x < 0 || y < 0 || static_cast<uint32_t>(x) >= mode.width || static_cast<uint32_t>(y) >= mode.height) {
    return CLR_INVALID;
  }
  const uint32_t bytesPerPixel = (mode.bits + 7) / 8;
  const uint8_t* at = view.pixels + uint64_t{mode.pitch} * static_cast<uint32_t>(y) + bytesPerPixel * static_cast<uint32_t>(x);
  uint32_t pixel = 0;
  std::memcpy(&pixel, at, bytesPerPixel);
  if (mode.bits == 8) {
    return RGB(pixel, pixel, pixel);
  }
  const bool wide = mode.bits >= 24;
  const uint32_t red = mode.redMask != 0 ? mode.redMask : (wide ? 0xFF0000u : 0);
  const uint32_t green = mode.greenMask != 0 ? mode.greenMask : (wide ? 0x00FF00u : 0);
  const uint32_t blue = mode.blueMask != 0 ? mode.blueMask : (wide ? 0x0000FFu : 0);
  return RGB(channel(pixel, red), channel(pixel, green), channel(pixel, blue));
}
