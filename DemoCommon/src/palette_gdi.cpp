// The grey palette and the image's copies onto device contexts, through the
// compat layer's GDI drawing.
#include <windows.h>

#include <cstdlib>
#include <new>

#include "democommon/palette.h"

namespace demo {

PaletteHandle createGreyPalette() {
  PaletteColour entries[256];
  greyPaletteEntries(entries);
  const size_t size = sizeof(LOGPALETTE) + 255 * sizeof(PALETTEENTRY);
  auto* logical = static_cast<LOGPALETTE*>(std::calloc(1, size));
  if (!logical) return nullptr;
  logical->palVersion = 0x300;
  logical->palNumEntries = 256;
  for (int i = 0; i < 256; ++i)
    logical->palPalEntry[i] = PALETTEENTRY{entries[i].red, entries[i].green, entries[i].blue, entries[i].flags};
  HPALETTE palette = CreatePalette(logical);
  std::free(logical);
  return palette;
}

void deletePalette(PaletteHandle palette) {
  if (palette) DeleteObject(static_cast<HGDIOBJ>(palette));
}

PaletteHandle selectPalette(HDC dc, PaletteHandle palette) {
  if (!dc || !palette) return nullptr;
  HPALETTE previous = SelectPalette(dc, static_cast<HPALETTE>(palette), FALSE);
  RealizePalette(dc);
  return previous;
}

namespace {

// Selects the grey palette for 8-bit images for the duration of a copy.
class GreyPaletteScope {
 public:
  GreyPaletteScope(HDC dc, const DisplayImage& image, PaletteHandle grey) : dc_(dc) {
    if (image.bitCount() == 8 && grey) previous_ = selectPalette(dc, grey), selected_ = true;
  }
  ~GreyPaletteScope() {
    if (selected_ && previous_) selectPalette(dc_, previous_);
  }

 private:
  HDC dc_;
  PaletteHandle previous_ = nullptr;
  bool selected_ = false;
};

const BITMAPINFO* infoOf(const DisplayImage& image) { return reinterpret_cast<const BITMAPINFO*>(&image.header); }

bool drawable(const DisplayImage& image) {
  return image.pixels && image.width() > 0 && image.height() > 0 && image.bitCount() > 0 &&
         pixelBytesOf(image.header.info) <= kImageBufferBytes;
}

}  // namespace

bool drawImage(HDC dc, const DisplayImage& image, PaletteHandle greyPalette) {
  const std::lock_guard imageLock(image.mutex);
  if (!dc || !drawable(image)) return false;
  GreyPaletteScope palette(dc, image, greyPalette);
  const DWORD width = static_cast<DWORD>(image.width());
  const DWORD height = static_cast<DWORD>(image.height());
  return SetDIBitsToDevice(dc, 0, 0, width, height, 0, 0, 0, height, image.pixels.get(), infoOf(image),
                           DIB_RGB_COLORS) != 0;
}

bool drawImageScaled(HDC dc, const DisplayImage& image, PaletteHandle greyPalette, int x, int y, int width,
                     int height) {
  const std::lock_guard imageLock(image.mutex);
  if (!dc || !drawable(image)) return false;
  GreyPaletteScope palette(dc, image, greyPalette);
  SetStretchBltMode(dc, COLORONCOLOR);
  return StretchDIBits(dc, x, y, width, height, 0, 0, image.width(), image.height(), image.pixels.get(),
                       infoOf(image), DIB_RGB_COLORS, SRCCOPY) != static_cast<int>(GDI_ERROR);
}

bool fillBackground(HDC dc, int x, int y, int width, int height) {
  if (!dc) return false;
  HBRUSH brush = CreateSolidBrush(GetBkColor(dc));
  if (!brush) return false;
  const RECT rect{x, y, x + width, y + height};
  const bool filled = FillRect(dc, &rect, brush) != 0;
  DeleteObject(brush);
  return filled;
}

}  // namespace demo
