#include "democommon/bitmap_file.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace demo {

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

constexpr uint32_t kInfoOffset = 14;
constexpr uint32_t kPlainPixelOffset = 14 + 40;
constexpr uint32_t kPalettePixelOffset = 14 + 40 + 1024;

bool knownBitCount(int bits) { return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32; }

}  // namespace

int saveBitmapFile(const DisplayImage& image, const std::string& path) {
  if (path.empty() || !image.pixels) return 1;
  const uint64_t pixelBytes = pixelBytesOf(image.header.info);
  // A loaded header is checked against the buffer; this keeps a hand-made one honest too.
  if (pixelBytes == 0 || pixelBytes > kImageBufferBytes) return 0;
  const bool withColours = image.header.info.biBitCount <= 8;
  const uint32_t offset = withColours ? kPalettePixelOffset : kPlainPixelOffset;
  const BitmapFileHeader fileHeader{kBitmapType, static_cast<uint32_t>(pixelBytes) + offset, 0, 0, offset};
  File file(std::fopen(path.c_str(), "wb"));
  if (!file) return 0;
  std::fwrite(&fileHeader, sizeof fileHeader, 1, file.get());
  std::fwrite(&image.header.info, sizeof image.header.info, 1, file.get());
  if (withColours) std::fwrite(image.header.colours, sizeof image.header.colours, 1, file.get());
  std::fwrite(image.pixels.get(), 1, static_cast<size_t>(pixelBytes), file.get());
  return 1;
}

int loadBitmapFile(DisplayImage& image, const std::string& path) {
  if (!image.pixels || path.empty()) return 0;
  File file(std::fopen(path.c_str(), "rb"));
  if (!file) return 0;
  BitmapFileHeader fileHeader{};
  if (std::fread(&fileHeader, sizeof fileHeader, 1, file.get()) != 1 || fileHeader.type != kBitmapType) return 0;
  ImageHeader header = image.header;
  if (std::fread(&header.info, sizeof header.info, 1, file.get()) != 1) return 0;
  const BITMAPINFOHEADER& info = header.info;
  if (info.biSize < sizeof(BITMAPINFOHEADER) || info.biWidth <= 0 || info.biHeight <= 0 ||
      info.biCompression != BI_RGB || !knownBitCount(info.biBitCount))
    return 0;
  const uint64_t pixelBytes = pixelBytesOf(info);
  if (pixelBytes == 0 || pixelBytes > kImageBufferBytes) return 0;
  if (fileHeader.pixelOffset < kInfoOffset + info.biSize) return 0;
  if (info.biBitCount <= 8) {
    // The colour table runs from the end of the information header to the pixels.
    const uint32_t tableBytes = fileHeader.pixelOffset - kInfoOffset - info.biSize;
    if (tableBytes > sizeof header.colours || tableBytes % 4 != 0) return 0;
    if (std::fseek(file.get(), static_cast<long>(kInfoOffset + info.biSize), SEEK_SET) != 0) return 0;
    if (tableBytes != 0 && std::fread(header.colours, tableBytes, 1, file.get()) != 1) return 0;
  }
  if (std::fseek(file.get(), static_cast<long>(fileHeader.pixelOffset), SEEK_SET) != 0) return 0;
  // Read aside first: a short file leaves the image as it was.
  std::unique_ptr<uint8_t[]> pixels(new (std::nothrow) uint8_t[pixelBytes]);
  if (!pixels || std::fread(pixels.get(), 1, pixelBytes, file.get()) != pixelBytes) return 0;
  header.info.biSize = sizeof(BITMAPINFOHEADER);
  image.header = header;
  std::memcpy(image.pixels.get(), pixels.get(), pixelBytes);
  return 1;
}

}  // namespace demo
