// What a device context carries between calls: its palette, stretch mode and
// background colour. Every device context kind keeps it here, keyed by its
// handle; all functions run under gdiMutex().
#pragma once

#include <windows.h>

#include <memory>

#include "gdi/gdi_objects.h"

namespace lx::win32::gdi {

struct DcState {
  HPALETTE paletteHandle = static_cast<HPALETTE>(kStockPalette);
  std::shared_ptr<Palette> palette;  // null: the default palette
  int stretchMode = BLACKONWHITE;
  COLORREF background = RGB(255, 255, 255);
};

// TRUE for the screen's, a window's, a memory or a toolkit device context;
// else ERROR_INVALID_HANDLE.
bool isDeviceContext(HDC dc);
// The state of a device context (made at its first use).
DcState& dcState(HDC dc);
// Drops a closing device context's state, releasing its palette selection.
void forgetDcState(HDC dc);

}  // namespace lx::win32::gdi
