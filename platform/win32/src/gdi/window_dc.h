// Window device contexts: the screen seen through a window's client area.
// Their pixels are the screen's (the video memory under the window); they
// read through the same paths as the screen's device context, with the
// window's client origin added.
#pragma once

#include <windows.h>

namespace lx::win32::gdi {

// A window device context for window (a bridge window), null when none.
HDC openWindowDc(HWND window);
// FALSE for a value that is not an open window device context.
bool closeWindowDc(HWND window, HDC dc);

// The screen's device context or a window device context.
bool isDisplayDc(HDC dc);

// Where a display device context's (0, 0) lies on the screen and how far it
// reaches (the screen's DC: no limit); false for other values and for the
// context of a window that no longer exists.
struct DisplayArea {
  LONG originX = 0;
  LONG originY = 0;
  LONG width = 0;   // 0: up to the screen's edge
  LONG height = 0;
};
bool displayArea(HDC dc, DisplayArea* area);

// The window of a window device context; null for other values.
HWND windowOfDc(HDC dc);

}  // namespace lx::win32::gdi
