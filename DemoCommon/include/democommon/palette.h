// The grey palette of 8-bit images and the drawing of the display image on a
// device context, through the compat layer's GDI drawing (palettes, DIB
// copies, brushes).
#pragma once

#include <windows.h>

#include "democommon/display_image.h"

namespace demo {

using PaletteHandle = void*;

// 256 entries, entry i grey (i + 10) mod 256; null when it cannot be made.
PaletteHandle createGreyPalette();
void deletePalette(PaletteHandle palette);
// Selects and realises a palette in dc; returns the one it held (null when none).
PaletteHandle selectPalette(HDC dc, PaletteHandle palette);

// The image 1:1 at (0, 0) of dc, or stretched into the rectangle, with the
// grey palette selected around the copy for 8-bit images.
bool drawImage(HDC dc, const DisplayImage& image, PaletteHandle greyPalette);
bool drawImageScaled(HDC dc, const DisplayImage& image, PaletteHandle greyPalette, int x, int y, int width,
                     int height);
// Fills a rectangle of dc with its background colour (the mask areas).
bool fillBackground(HDC dc, int x, int y, int width, int height);

}  // namespace demo
