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

// Colours as GDI passes them: 0x00BBGGRR.
typedef DWORD COLORREF;
#define CLR_INVALID 0xFFFFFFFFu
#define GetRValue(rgb) ((BYTE)(rgb))
#define GetGValue(rgb) ((BYTE)(((WORD)(rgb)) >> 8))
#define GetBValue(rgb) ((BYTE)((rgb) >> 16))
#define RGB(r, g, b) ((COLORREF)(((BYTE)(r) | ((WORD)((BYTE)(g)) << 8)) | (((DWORD)(BYTE)(b)) << 16)))

// A pixel of the screen's video memory in the mode the device context was
// obtained in (the latest GetDC); CLR_INVALID outside the screen. An 8-bit
// mode has no palette here: its value reads as that grey.
WIN32_API COLORREF WINAPI GetPixel(HDC dc, int x, int y);
