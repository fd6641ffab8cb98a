// Win32 subset: drawing on device contexts. Drawing on the screen's or a
// window's device context writes the display adapter's video memory in the
// display mode's format (8, 15, 16, 24 or 32 bits; an 8-bit mode is a fixed
// grey ramp, so a colour lands as its grey). A window's context draws only
// on the visible part of its client area: what another window covers, what
// lies outside the client area and what lies beyond the screen stay as they
// are. Memory device contexts draw on their bitmap; device contexts that the
// GUI toolkit makes (win32/gui_bridge.h: a printer's, an image's) draw with
// the toolkit.
#pragma once

#include "windows.h"

#ifndef RECT_DEFINED
#define RECT_DEFINED
typedef struct tagRECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
} RECT, *PRECT, *LPRECT;
#endif

typedef struct HBRUSH__* HBRUSH;
typedef struct HPALETTE__* HPALETTE;

#define LOGPIXELSX 88
#define LOGPIXELSY 90

#define GDI_ERROR 0xFFFFFFFFu

// Compressions and colour-table kinds of DIBs drawn. A 16-bit BI_RGB DIB is
// 5-5-5; BI_BITFIELDS (16 or 32 bits) gives red, green and blue masks as the
// three DWORDs after the header. DIB_PAL_COLORS tables hold WORD indices into
// the device context's selected palette.
#define BI_BITFIELDS 3L
#define DIB_PAL_COLORS 1

// Stretch modes: every mode is accepted; HALFTONE smooths where the device
// can (a toolkit device), the others pick the nearest source pixel.
#define BLACKONWHITE 1
#define WHITEONBLACK 2
#define COLORONCOLOR 3
#define HALFTONE 4
#define STRETCH_ANDSCANS BLACKONWHITE
#define STRETCH_ORSCANS WHITEONBLACK
#define STRETCH_DELETESCANS COLORONCOLOR
#define STRETCH_HALFTONE HALFTONE

// Stock objects.
#define WHITE_BRUSH 0
#define LTGRAY_BRUSH 1
#define GRAY_BRUSH 2
#define DKGRAY_BRUSH 3
#define BLACK_BRUSH 4
#define NULL_BRUSH 5
#define HOLLOW_BRUSH NULL_BRUSH
#define DEFAULT_PALETTE 15

typedef struct tagPALETTEENTRY {
  BYTE peRed;
  BYTE peGreen;
  BYTE peBlue;
  BYTE peFlags;
} PALETTEENTRY, *LPPALETTEENTRY;

typedef struct tagLOGPALETTE {
  WORD palVersion;  // 0x300
  WORD palNumEntries;
  PALETTEENTRY palPalEntry[1];  // palNumEntries entries
} LOGPALETTE, *LPLOGPALETTE;

#ifdef __cplusplus
static_assert(sizeof(PALETTEENTRY) == 4, "PALETTEENTRY is 4 bytes");
static_assert(offsetof(LOGPALETTE, palPalEntry) == 4, "entries follow version and count");
#endif

// Copies a DIB's source rectangle to the destination rectangle, stretched
// (negative widths or heights mirror). For a bottom-up DIB (biHeight > 0)
// ySrc counts from the bottom row, as in GDI. Only SRCCOPY. Returns the
// source rows drawn (|srcHeight|), 0 on failure: ERROR_INVALID_HANDLE for a
// bad device context, ERROR_INVALID_PARAMETER for a bad header, colour use
// or null bits, ERROR_NOT_SUPPORTED for another raster operation or format.
WIN32_API int WINAPI StretchDIBits(HDC dc, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc,
                                   int srcWidth, int srcHeight, const void* bits, const BITMAPINFO* info, UINT usage,
                                   DWORD rop);
// Copies width x height pixels of a DIB unscaled. `bits` holds `lines` scan
// lines from scan `startScan` (scan 0 is the first row in memory: the bottom
// row of a bottom-up DIB); pixels of scans outside them are not drawn.
// Returns `lines`, 0 on failure (as StretchDIBits).
WIN32_API int WINAPI SetDIBitsToDevice(HDC dc, int xDest, int yDest, DWORD width, DWORD height, int xSrc, int ySrc,
                                       UINT startScan, UINT lines, const void* bits, const BITMAPINFO* info,
                                       UINT usage);
// The previous mode; 0 for a bad device context or mode (1 to 4 are valid).
WIN32_API int WINAPI SetStretchBltMode(HDC dc, int mode);
WIN32_API int WINAPI GetStretchBltMode(HDC dc);

// Fills the rectangle (right and bottom exclusive) with the brush's colour;
// the null brush draws nothing. 0 for a bad device context or brush.
WIN32_API int WINAPI FillRect(HDC dc, const RECT* rect, HBRUSH brush);
WIN32_API HBRUSH WINAPI CreateSolidBrush(COLORREF colour);
// The stock brushes and DEFAULT_PALETTE (the 20 static colours); null for
// other indices. DeleteObject keeps stock objects.
WIN32_API HGDIOBJ WINAPI GetStockObject(int index);
// The device context's background colour (white at first), which drawing
// here does not use but programs read to fill with.
WIN32_API COLORREF WINAPI SetBkColor(HDC dc, COLORREF colour);
WIN32_API COLORREF WINAPI GetBkColor(HDC dc);

// A logical palette of 1 to 256 entries (palVersion 0x300).
WIN32_API HPALETTE WINAPI CreatePalette(const LOGPALETTE* palette);
// Selects a palette into a device context and returns the previous one (at
// first DEFAULT_PALETTE); null for a bad context or palette. The palette is
// used by DIB_PAL_COLORS drawing; a palette selected anywhere is not deleted.
WIN32_API HPALETTE WINAPI SelectPalette(HDC dc, HPALETTE palette, BOOL forceBackground);
// The number of entries of the selected palette (the screen has no hardware
// palette to map them into); GDI_ERROR for a bad device context.
WIN32_API UINT WINAPI RealizePalette(HDC dc);
