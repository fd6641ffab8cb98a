// The GUI bridge: the window services a program's GUI toolkit gives the compat
// layer. The layer and the libraries above it never link the toolkit; a
// program (or its toolkit glue, such as platform/qt) fills this table and
// registers it once. All calls may come from any thread unless noted.
#pragma once

#include "windows.h"

typedef struct Win32GuiBridge {
  DWORD size;  // sizeof(Win32GuiBridge)
  BOOL (*isWindow)(HWND window);
  BOOL (*windowRect)(HWND window, RECT* screenRect);
  BOOL (*clientRect)(HWND window, RECT* clientRect);
  BOOL (*clientOrigin)(HWND window, POINT* screenPoint);  // screen position of client (0, 0)
  BOOL (*isVisible)(HWND window);
  // The thread whose event loop serves the window; 0 for no window.
  DWORD (*windowThread)(HWND window);
  BOOL (*redraw)(HWND window, const RECT* rect, UINT flags);
  UINT_PTR (*setTimer)(HWND window, UINT_PTR id, UINT elapse, TIMERPROC procedure);
  BOOL (*killTimer)(HWND window, UINT_PTR id);
  // Runs the toolkit events waiting for the calling thread, waiting up to
  // `milliseconds` for one to arrive; does nothing on a thread without an
  // event loop.
  void (*processEvents)(DWORD milliseconds);
  // The visible part of the window's client area in screen coordinates, as
  // disjoint rectangles: writes at most `capacity` and returns how many there
  // are (which may exceed capacity); -1 for no window.
  int (*visibleRegion)(HWND window, RECT* rects, int capacity);
} Win32GuiBridge;

// Registers the bridge (the table is copied); null unregisters. FALSE with
// ERROR_INVALID_PARAMETER for a table of the wrong size.
WIN32_API BOOL WINAPI Win32RegisterGuiBridge(const Win32GuiBridge* bridge);
