#include "bitmap_file.h"

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
static_assert(offsetof(BitmapFileHeader, pixelOffset) == 10);
static_assert(sizeof(BitmapInfoHeader) == 40);
static_assert(offsetof(BitmapInfoHeader, bitCount) == 14);

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

bool writeBitmap24(const std::string& path, const uint8_t* pixels, uint32_t width, uint32_t height) {
  const uint32_t rowBytes = (width * 3 + 3) & ~3u;  // lines are padded to 4 bytes
  BitmapFileHeader file{0x4D42, 0, 0, 0, sizeof(BitmapFileHeader) + sizeof(BitmapInfoHeader)};
  BitmapInfoHeader info{sizeof(BitmapInfoHeader), static_cast<int32_t>(width), static_cast<int32_t>(height), 1, 24, 0,
                        rowBytes * height, 2835, 2835, 0, 0};
  file.size = file.pixelOffset + info.imageSize;
  std::unique_ptr<std::FILE, FileCloser> out(std::fopen(path.c_str(), "wb"));
  if (!out) {
    return false;
  }
  bool ok = std::fwrite(&file, sizeof file, 1, out.get()) == 1 && std::fwrite(&info, sizeof info, 1, out.get()) == 1;
  std::vector<uint8_t> row(rowBytes, 0);
  for (uint32_t line = height; ok && line-- > 0;) {
    std::copy(pixels + size_t{line} * width * 3, pixels + (size_t{line} + 1) * width * 3, row.begin());
    ok = std::fwrite(row.data(), 1, row.size(), out.get()) == row.size();
  }
  return std::fflush(out.get()) == 0 && ok;
}

}  // namespace lxsnap
