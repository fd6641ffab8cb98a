// Brushes, stock objects, FillRect and the background colour.
#include <windows.h>

#include <new>

#include "gdi/dc_state.h"
#include "gdi/device_dc.h"
#include "gdi/gdi_objects.h"
#include "gdi/pixel_format.h"
#include "gdi/raster_target.h"

using namespace lx::win32::gdi;

WIN32_API HBRUSH WINAPI CreateSolidBrush(COLORREF colour) {
  std::lock_guard hold(gdiMutex());
  try {
    const uintptr_t value = insertObject(std::make_shared<Brush>(Brush{colour & 0x00FFFFFFu, false}));
    if (value == 0) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    return reinterpret_cast<HBRUSH>(value);
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
}

WIN32_API HGDIOBJ WINAPI GetStockObject(int index) {
  if (index >= 0 && index < kStockBrushCount) {
    return reinterpret_cast<HGDIOBJ>(kStockBrushes + 4 * static_cast<uintptr_t>(index));
  }
  if (index == DEFAULT_PALETTE) return kStockPalette;
  SetLastError(ERROR_INVALID_PARAMETER);
  return nullptr;
}

WIN32_API int WINAPI FillRect(HDC dc, const RECT* rect, HBRUSH brushHandle) {
  std::lock_guard hold(gdiMutex());
  if (!isDeviceContext(dc)) return 0;
  const std::shared_ptr<Brush> brush = findBrush(brushHandle);
  if (brush == nullptr) return 0;
  if (rect == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (brush->hollow || rect->left >= rect->right || rect->top >= rect->bottom) return 1;
  Win32DrawDevice device{};
  if (findDeviceDc(dc, &device)) {
    if (!device.fillRect(device.context, rect, brush->colour)) {
      SetLastError(ERROR_INVALID_FUNCTION);
      return 0;
    }
    return 1;
  }
  const uint32_t rgb = rgbOfColorref(brush->colour);
  return withRasterTarget(dc, [&](RasterTarget& target) { fillRaster(target, *rect, rgb); }) ? 1 : 0;
}

WIN32_API COLORREF WINAPI SetBkColor(HDC dc, COLORREF colour) {
  std::lock_guard hold(gdiMutex());
  if (!isDeviceContext(dc)) return CLR_INVALID;
  DcState& state = dcState(dc);
  const COLORREF previous = state.background;
  state.background = colour & 0x00FFFFFFu;
  return previous;
}

WIN32_API COLORREF WINAPI GetBkColor(HDC dc) {
  std::lock_guard hold(gdiMutex());
  if (!isDeviceContext(dc)) return CLR_INVALID;
  return dcState(dc).background;
}
