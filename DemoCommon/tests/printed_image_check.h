// Checks of a printout written to a PDF file: a known picture put into a
// display image (and its top-down RGB into a file), and a Python script that
// finds each picture among the PDF's images and compares it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "democommon/display_image.h"

namespace demo::testing {

// Blocks of 16 x 16 of one colour each: inside them JPEG stays within a few
// steps. `seed` tells pictures apart.
inline void patternColour(int x, int y, int seed, uint8_t rgb[3]) {
  const int bx = x / 16, by = y / 16;
  rgb[0] = static_cast<uint8_t>(bx * 25 + seed * 60);
  rgb[1] = static_cast<uint8_t>(by * 31);
  rgb[2] = static_cast<uint8_t>(((bx + by + seed) % 2) ? 230 : 20);
}

// A bottom-up 24-bit picture of width x height in `image`; the same
// top-down RGB in the file `raw`.
inline void paintPattern(DisplayImage& image, int width, int height, int seed, const std::string& raw) {
  BITMAPINFOHEADER& info = image.header.info;
  info.biWidth = width;
  info.biHeight = height;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  info.biSizeImage = static_cast<DWORD>(pixelBytesOf(info));
  const int stride = (width * 3 + 3) & ~3;
  std::ofstream out(raw, std::ios::binary);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint8_t rgb[3];
      patternColour(x, y, seed, rgb);
      uint8_t* p = &image.pixels[static_cast<size_t>(height - 1 - y) * stride + x * 3];
      p[0] = rgb[2];
      p[1] = rgb[1];
      p[2] = rgb[0];
      out.write(reinterpret_cast<const char*>(rgb), 3);
    }
}

// A script printing, for each raw file (path, width, height), "W H close"
// when an image of the PDF matches it inside the blocks, else how far the
// nearest one is off.
inline std::string printedImagesScript(const std::string& pdf, const std::vector<std::string>& raws, int width,
                                       int height) {
  std::string list;
  for (const std::string& raw : raws) list += "'" + raw + "', ";
  return "PDF = '" + pdf + "'\nRAWS = [" + list + "]\nW, H = " + std::to_string(width) + ", " +
         std::to_string(height) + "\n" + R"(import re, zlib, io
pdf = open(PDF, 'rb').read()
images = []
for m in re.finditer(rb'<<((?:(?!>>\s*stream).)*?)>>\s*stream\r?\n', pdf, re.S):
    d = m.group(1)
    if b'/Subtype /Image' not in d:
        continue
    data = pdf[m.end():pdf.index(b'endstream', m.end())]
    w = int(re.search(rb'/Width (\d+)', d).group(1))
    h = int(re.search(rb'/Height (\d+)', d).group(1))
    if b'/DCTDecode' in d:
        from PIL import Image
        pix = Image.open(io.BytesIO(data)).convert('RGB').tobytes()
    else:
        pix = zlib.decompressobj().decompress(data)
        if b'/DeviceGray' in d:
            pix = bytes(b for g in pix for b in (g, g, g))
    images.append((w, h, pix))
# JPEG smears colour across the blocks' edges: compare their insides.
inside = [i for i in range(W * H * 3) if 3 <= (i // 3) % W % 16 <= 12 and 3 <= (i // 3) // W % 16 <= 12]
for raw in RAWS:
    want = open(raw, 'rb').read()
    best = 999
    for w, h, pix in images:
        if (w, h) == (W, H) and len(pix) >= len(want):
            best = min(best, max(abs(pix[i] - want[i]) for i in inside))
    print(W, H, 'close' if best <= 12 else 'off by %d' % best)
)";
}

}  // namespace demo::testing
