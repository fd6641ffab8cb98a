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

// ---- Toolkit devices ----------------------------------------------------------
// A device the toolkit draws on (a printer's page, a print preview, an image).
// A device context made for it passes its drawing to these functions, on the
// thread that draws; the layer converts DIBs and colours first.
typedef struct Win32DrawDevice {
  DWORD size;  // sizeof(Win32DrawDevice)
  void* context;
  // GetDeviceCaps of the device: HORZRES, VERTRES, LOGPIXELSX, LOGPIXELSY,
  // BITSPIXEL, PLANES; 0 for other indices.
  int (*deviceCaps)(void* context, int index);
  // Draws a width x height image of 0x00RRGGBB words (top-down rows `stride`
  // bytes apart) stretched over `destination` (device coordinates, left <
  // right, top < bottom, right and bottom exclusive) in a GDI stretch mode.
  BOOL (*drawImage)(void* context, const RECT* destination, const DWORD* pixels, int width, int height, int stride,
                    int stretchMode);
  // Fills `rect` (as above) with a colour (0x00BBGGRR).
  BOOL (*fillRect)(void* context, const RECT* rect, DWORD colour);
} Win32DrawDevice;

// A device context drawing on the device (the table is copied); null with
// ERROR_INVALID_PARAMETER for a table of the wrong size or without functions.
WIN32_API HDC WINAPI Win32CreateDeviceDC(const Win32DrawDevice* device);
// Ends it; FALSE with ERROR_INVALID_HANDLE for a value that is not one.
WIN32_API BOOL WINAPI Win32DeleteDeviceDC(HDC dc);

// ---- Showing the screen ------------------------------------------------------
// Reads the screen's pixels in the rectangle at (x, y) of width x height as
// 0x00RRGGBB words (top-down rows `stride` bytes apart); pixels beyond the
// display mode are black. `fingerprint` carries what the last read saw (0 at
// first): when the pixels there and the mode are unchanged since, nothing is
// written and the result is 0; otherwise the pixels are written, the
// fingerprint updated and the result is 1. -1 without a screen or for bad
// arguments. A view that shows the screen polls it this way and repaints only
// on change.
WIN32_API int WINAPI Win32ReadScreen(int x, int y, int width, int height, DWORD* pixels, int stride,
                                     ULONGLONG* fingerprint);
