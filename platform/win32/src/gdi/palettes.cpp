// Logical palettes: made from a LOGPALETTE, selected into device contexts
// for DIB_PAL_COLORS drawing. The screen has no hardware palette (an 8-bit
// mode is a fixed grey ramp), so realising maps nothing.
#include <windows.h>

#include <new>

#include "gdi/dc_state.h"
#include "gdi/gdi_objects.h"

using namespace lx::win32::gdi;

WIN32_API HPALETTE WINAPI CreatePalette(const LOGPALETTE* logical) {
  if (logical == nullptr || logical->palVersion != 0x300 || logical->palNumEntries == 0 ||
      logical->palNumEntries > 256) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::lock_guard hold(gdiMutex());
  try {
    auto palette = std::make_shared<Palette>();
    palette->entries.assign(logical->palPalEntry, logical->palPalEntry + logical->palNumEntries);
    const uintptr_t value = insertObject(palette);
    if (value == 0) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    return reinterpret_cast<HPALETTE>(value);
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
}

WIN32_API HPALETTE WINAPI SelectPalette(HDC dc, HPALETTE paletteHandle, BOOL /*forceBackground*/) {
  std::lock_guard hold(gdiMutex());
  if (!isDeviceContext(dc)) return nullptr;
  std::shared_ptr<Palette> palette = findPalette(paletteHandle);
  if (palette == nullptr) return nullptr;
  if (paletteHandle == kStockPalette) palette = nullptr;
  DcState& state = dcState(dc);
  const HPALETTE previous = state.paletteHandle;
  if (state.palette != nullptr) --state.palette->selections;
  state.palette = palette;
  state.paletteHandle = paletteHandle;
  if (palette != nullptr) ++palette->selections;
  return previous;
}

WIN32_API UINT WINAPI RealizePalette(HDC dc) {
  std::lock_guard hold(gdiMutex());
  if (!isDeviceContext(dc)) return GDI_ERROR;
  const DcState& state = dcState(dc);
  return static_cast<UINT>(state.palette != nullptr ? state.palette->entries.size() : findPalette(kStockPalette)->entries.size());
}
