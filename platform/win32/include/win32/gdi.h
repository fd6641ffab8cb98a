// Win32 subset: the screen's device context and screen metrics. The screen
// is the machine's display adapter in its current mode.
#pragma once

#include "windows.h"

#ifndef HWND_DEFINED
#define HWND_DEFINED
typedef struct HWND__* HWND;
#endif
#ifndef HDC_DEFINED
#define HDC_DEFINED
typedef struct HDC__* HDC;
#endif

// GetDeviceCaps indices.
#define HORZRES 8
#define VERTRES 10
#define BITSPIXEL 12
#define PLANES 14

// GetSystemMetrics indices.
#define SM_CXSCREEN 0
#define SM_CYSCREEN 1

// GetDC(NULL) gives the screen's device context, null when the display
// cannot be described; window device contexts are not served here.
WIN32_API HDC WINAPI GetDC(HWND window);
WIN32_API int WINAPI ReleaseDC(HWND window, HDC dc);
// Read from the display mode at every call; 0 for an unknown index or DC.
// A 15-bit (5-5-5) mode reports 16 bits per pixel, as GDI does.
WIN32_API int WINAPI GetDeviceCaps(HDC dc, int index);
WIN32_API int WINAPI GetSystemMetrics(int index);
