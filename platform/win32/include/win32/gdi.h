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
// cannot be described. GetDC of a window (from the GUI bridge) gives a
// context whose (0, 0) is the client area's top-left pixel on the screen:
// GetPixel, BitBlt from it and LxGetDisplayBits read the video memory under
// the client area, nothing beyond it; drawing on it (win32/gdi_drawing.h)
// writes the visible part of the client area.
// ReleaseDC ends it (1), 0 for a context that is not open.
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

// ---- Memory device contexts and bitmaps ------------------------------------
// A memory device context holds one bitmap in host memory in the screen's
// format at its creation (8, 16 for 15 and 16-bit screens, 24 or 32 bits
// per pixel). Handles are values of the layer's GDI table, distinct from
// kernel-object handles; a bad handle gives 0/FALSE/null with
// ERROR_INVALID_HANDLE.
typedef void* HGDIOBJ;
typedef struct HBITMAP__* HBITMAP;

typedef struct tagBITMAPINFOHEADER {
  DWORD biSize;
  LONG biWidth;
  LONG biHeight;  // positive: rows bottom-up
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
} BITMAPINFOHEADER, *LPBITMAPINFOHEADER;

typedef struct tagRGBQUAD {
  BYTE rgbBlue;
  BYTE rgbGreen;
  BYTE rgbRed;
  BYTE rgbReserved;
} RGBQUAD;

typedef struct tagBITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];
} BITMAPINFO, *LPBITMAPINFO;

#ifdef __cplusplus
static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER is 40 bytes");
static_assert(offsetof(BITMAPINFOHEADER, biBitCount) == 14, "biBitCount at 14");
static_assert(offsetof(BITMAPINFOHEADER, biSizeImage) == 20, "biSizeImage at 20");
static_assert(offsetof(BITMAPINFOHEADER, biClrImportant) == 36, "biClrImportant at 36");
static_assert(sizeof(RGBQUAD) == 4, "RGBQUAD is 4 bytes");
static_assert(offsetof(BITMAPINFO, bmiColors) == 40, "the colour table follows the header");
#endif

#define BI_RGB 0L
#define DIB_RGB_COLORS 0
#define SRCCOPY 0x00CC0020u

// Of the screen DC, of null (the screen) or of another memory DC.
WIN32_API HDC WINAPI CreateCompatibleDC(HDC dc);
// A width x height bitmap (both above 0) in the format of the screen, or of
// the bitmap selected into a memory DC. Pixels start black.
WIN32_API HBITMAP WINAPI CreateCompatibleBitmap(HDC dc, int width, int height);
// Selects a bitmap into a memory DC and returns the one it held (at first
// the DC's stock bitmap); null when the bitmap is selected into another DC.
WIN32_API HGDIOBJ WINAPI SelectObject(HDC dc, HGDIOBJ object);
// SRCCOPY from the screen DC or a memory DC into a memory DC of the same
// format, clipped to both surfaces; or from any of them onto the screen's or
// a window's DC (converted to the display mode, clipped as its drawing is).
// Other raster operations fail.
WIN32_API BOOL WINAPI BitBlt(HDC destination, int x, int y, int width, int height, HDC source, int sourceX,
                             int sourceY, DWORD rop);
// With bits null and biBitCount 0: fills the header (the colour table is left
// alone). Otherwise copies `lines` rows from row `start` (counted from the
// bottom when biHeight > 0) in the bitmap's own format, which the header must
// give, and, for 8 bits, a grey 256-entry colour table; returns the rows
// copied. 16-bit rows are 5-6-5 (a 15-bit screen's pixels are widened).
WIN32_API int WINAPI GetDIBits(HDC dc, HBITMAP bitmap, UINT start, UINT lines, LPVOID bits, LPBITMAPINFO info,
                               UINT usage);
// Deletes a memory DC; a bitmap it holds survives, unselected.
WIN32_API BOOL WINAPI DeleteDC(HDC dc);
// Deletes a bitmap; FALSE while it is selected into a DC. Stock objects stay.
WIN32_API BOOL WINAPI DeleteObject(HGDIOBJ object);
