// The screen's device context over the machine's display mode.
#include <windows.h>

#include "ddraw/primary_surface.h"
#include "gdi/dc_state.h"
#include "gdi/device_dc.h"
#include "gdi/gdi_objects.h"
#include "gdi/screen_view.h"
#include "gdi/window_dc.h"

namespace {

using lx::win32::gdi::kScreenDc;

bool currentMode(lxm::wire::DisplayModeRecord* mode) { return lx::win32::ddraw::queryDisplayMode(mode); }

}  // namespace

WIN32_API HDC WINAPI GetDC(HWND window) {
  lxm::wire::DisplayModeRecord mode{};
  if (!currentMode(&mode)) {
    SetLastError(ERROR_DEVICE_NOT_CONNECTED);
    return nullptr;
  }
  lx::win32::gdi::expireScreenView();
  return window == nullptr ? kScreenDc : lx::win32::gdi::openWindowDc(window);
}

WIN32_API int WINAPI ReleaseDC(HWND window, HDC dc) {
  if (dc == kScreenDc) return 1;
  std::lock_guard hold(lx::win32::gdi::gdiMutex());
  if (!lx::win32::gdi::closeWindowDc(window, dc)) return 0;
  lx::win32::gdi::forgetDcState(dc);
  return 1;
}

WIN32_API int WINAPI GetDeviceCaps(HDC dc, int index) {
  {
    std::lock_guard hold(lx::win32::gdi::gdiMutex());
    Win32DrawDevice device{};
    if (lx::win32::gdi::findDeviceDc(dc, &device)) return device.deviceCaps(device.context, index);
  }
  lxm::wire::DisplayModeRecord mode{};
  if (!lx::win32::gdi::isDisplayDc(dc) || !currentMode(&mode)) {
    return 0;
  }
  switch (index) {
    case HORZRES: return static_cast<int>(mode.width);
    case VERTRES: return static_cast<int>(mode.height);
    case BITSPIXEL: return mode.bits == 15 ? 16 : static_cast<int>(mode.bits);
    case PLANES: return 1;
    case LOGPIXELSX:
    case LOGPIXELSY: return 96;  // the screen's customary density
    default: return 0;
  }
}

WIN32_API int WINAPI GetSystemMetrics(int index) {
  lxm::wire::DisplayModeRecord mode{};
  if (!currentMode(&mode)) {
    return 0;
  }
  switch (index) {
    case SM_CXSCREEN: return static_cast<int>(mode.width);
    case SM_CYSCREEN: return static_cast<int>(mode.height);
    default: return 0;
  }
}
