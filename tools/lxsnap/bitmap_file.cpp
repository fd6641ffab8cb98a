#include "bitmap_file.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <vector>

namespace lxsnap {

namespace {

#pragma pack(push, 1)
struct BitmapFileHeader {
  uint16_t type;  // "BM"
  uint32_t size;
  uint16_t reserved1;
  uint16_t reserved2;
  uint32_t pixelOffset;
};
struct BitmapInfoHeader {
  uint32_t size;
  int32_t width;
  int32_t height;  // positive: bottom-up lines
  uint16_t planes;
  uint16_t bitCount;
  uint32_t compression;
  uint32_t imageSize;
  int32_t xPixelsPerMeter;
  int32_t yPixelsPerMeter;
  uint32_t coloursUsed;
  uint32_t coloursImportant;
};
#pragma pack(pop)
static_assert(sizeof(BitmapFileHeader) == 14);
static_assert(offsetof(BitmapFileHeader, size) == 2);
static_assert(offsetof(BitmapFileHeader, pixelOffset) == 10);
static_assert(sizeof(BitmapInfoHeader) == 40);
static_assert(offsetof(BitmapInfoHeader, bitCount) == 14);
static_assert(offsetof(BitmapInfoHeader, imageSize) == 20);
static_assert(offsetof(BitmapInfoHeader, coloursUsed) == 32);

constexpr uint32_t kGreyPaletteEntries = 256;
constexpr int32_t kPixelsPerMeter = 2835;  // 72 dpi

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

bool writeBitmapFile(const std::string& path, const Image& image) {
  if ((image.channels != 1 && image.channels != 3) ||
      image.pixels.size() != size_t{image.width} * image.height * image.channels) {
    errno = EINVAL;
    return false;
  }
  const bool grey = image.channels == 1;
  const uint32_t lineBytes = image.width * image.channels;
  const uint32_t paddedLineBytes = (lineBytes + 3) & ~3u;  // lines are padded to 4 bytes
  const uint32_t paletteBytes = grey ? kGreyPaletteEntries * 4 : 0;
  BitmapFileHeader file{0x4D42, 0, 0, 0,
                        static_cast<uint32_t>(sizeof(BitmapFileHeader) + sizeof(BitmapInfoHeader)) + paletteBytes};
  BitmapInfoHeader info{sizeof(BitmapInfoHeader),
                        static_cast<int32_t>(image.width),
                        static_cast<int32_t>(image.height),
                        1,
                        static_cast<uint16_t>(8 * image.channels),
                        0,
                        paddedLineBytes * image.height,
                        kPixelsPerMeter,
                        kPixelsPerMeter,
                        grey ? kGreyPaletteEntries : 0,
                        0};
  file.size = file.pixelOffset + info.imageSize;

  std::unique_ptr<std::FILE, FileCloser> out(std::fopen(path.c_str(), "wb"));
  if (!out) {
    return false;
  }
  bool ok = std::fwrite(&file, sizeof file, 1, out.get()) == 1 && std::fwrite(&info, sizeof info, 1, out.get()) == 1;
  if (grey) {
    std::vector<uint8_t> palette(paletteBytes, 0);
    for (uint32_t level = 0; level < kGreyPaletteEntries; ++level) {
      palette[4 * level] = palette[4 * level + 1] = palette[4 * level + 2] = static_cast<uint8_t>(level);
    }
    ok = ok && std::fwrite(palette.data(), 1, palette.size(), out.get()) == palette.size();
  }
  std::vector<uint8_t> line(paddedLineBytes, 0);
  for (uint32_t y = image.height; ok && y-- > 0;) {
    std::copy_n(image.pixels.data() + size_t{y} * lineBytes, lineBytes, line.begin());
    ok = std::fwrite(line.data(), 1, line.size(), out.get()) == line.size();
  }
  const bool flushed = std::fflush(out.get()) == 0;
  return flushed && ok;
}

}  // namespace lxsnap
