// The display image of a card: a bitmap information header with a 256-entry
// colour table (the header storage the bitmap files and drawing calls take
// as one block) and the pixel buffer.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "democommon/video_formats.h"

namespace demo {

struct ImageHeader {
  BITMAPINFOHEADER info;
  RGBQUAD colours[256];
};
static_assert(sizeof(ImageHeader) == 40 + 1024);
static_assert(offsetof(ImageHeader, colours) == 40);

// Bytes of the pixels a header describes: rows padded to 4 bytes. 0 for a
// header of no pixels; above kImageBufferBytes for nonsense sizes (no
// overflow: computed in 64 bits from 32-bit fields).
uint64_t pixelBytesOf(const BITMAPINFOHEADER& info);

// Size 40, width and height 0, planes 1, bit count 0, the rest 0, and the
// grey colour table j -> (j, j, j, 0).
void resetImageHeader(ImageHeader* header);

// Grey palette entries (red, green, blue, flags): entry i holds grey
// (i + 10) mod 256.
struct PaletteColour {
  uint8_t red, green, blue, flags;
};
void greyPaletteEntries(PaletteColour (&entries)[256]);

struct DisplayImage {
  ImageHeader header{};
  std::unique_ptr<uint8_t[]> pixels;  // kImageBufferBytes, or null when allocation failed
  // Held while the header or the pixels are written or read once snap-ex
  // runs: its delivery thread converts each frame into the image while the
  // GUI thread draws, saves or reads back into the same image.
  mutable std::mutex mutex;

  bool allocate();        // 0xFF-filled; false (and no buffer) when memory is short
  void fillWhite();       // the whole buffer to 0xFF
  int width() const { return header.info.biWidth; }
  int height() const { return header.info.biHeight; }
  int bitCount() const { return header.info.biBitCount; }
};

}  // namespace demo
