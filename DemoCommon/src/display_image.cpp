#include "democommon/display_image.h"

#include <cstring>
#include <new>

namespace demo {

uint64_t pixelBytesOf(const BITMAPINFOHEADER& info) {
  const uint64_t width = static_cast<uint64_t>(info.biWidth < 0 ? -static_cast<int64_t>(info.biWidth) : info.biWidth);
  const uint64_t height =
      static_cast<uint64_t>(info.biHeight < 0 ? -static_cast<int64_t>(info.biHeight) : info.biHeight);
  return (static_cast<uint64_t>(info.biBitCount) * width + 31) / 32 * 4 * height;
}

void resetImageHeader(ImageHeader* header) {
  std::memset(header, 0, sizeof *header);
  header->info.biSize = sizeof(BITMAPINFOHEADER);
  header->info.biPlanes = 1;
  for (int j = 0; j < 256; ++j) {
    const auto v = static_cast<BYTE>(j);
    header->colours[j] = RGBQUAD{v, v, v, 0};
  }
}

void greyPaletteEntries(PaletteColour (&entries)[256]) {
  for (int i = 0; i < 256; ++i) {
    const auto grey = static_cast<uint8_t>((i + 10) % 256);
    entries[i] = PaletteColour{grey, grey, grey, 0};
  }
}

bool DisplayImage::allocate() {
  pixels.reset(new (std::nothrow) uint8_t[kImageBufferBytes]);
  if (!pixels) return false;
  fillWhite();
  return true;
}

void DisplayImage::fillWhite() {
  const std::lock_guard lock(mutex);
  if (pixels) std::memset(pixels.get(), 0xFF, kImageBufferBytes);
}

}  // namespace demo
