// Stateless pixel functions: format conversion of DIB-layout images, halving
// and line doubling, and read-back of a device context's rectangle. Rows start
// on 4-byte boundaries. Every function returns an LxStatus.
#pragma once

#include <stdint.h>

#include "lx/export.h"
#include "lx/status.h"
#include <windows.h>

// Converts `height` rows of 8, 15 (5-5-5), 16 (5-6-5), 24 (B,G,R) or 32-bit
// (B,G,R,X) pixels to 8-bit rows (from 8) or 24-bit rows (from all others),
// upside down when flip is non-zero. Channels keep their bits at the top of
// the byte. Only the pixel bytes of a destination row are written, not its
// padding. destination may be source (or overlap it).
LX_EXPORT LxStatus LxDataTransform(void* destination, const void* source, int32_t width, int32_t height, int32_t bits,
                                   int32_t flip);

// mode 0: odd pixels of each row, 1: even pixels (width / 2 wide);
// mode 2: even rows, 3: odd rows (height / 2 rows); mode 4: every row twice.
LX_EXPORT LxStatus LxDataInterchange(void* destination, const void* source, int32_t width, int32_t height,
                                     int32_t bits, int32_t mode);

// Copies the rectangle of `dc` at (x, y) and converts it: *bits receives 8 on
// an 8-bit screen, else 24; rows bottom-up.
LX_EXPORT LxStatus LxGetDisplayBits(HDC dc, int32_t x, int32_t y, int32_t width, int32_t height, int32_t* bits,
                                    void* destination);
