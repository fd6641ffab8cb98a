#include "democommon/bitmap_file.h"

#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
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

// Reads bytes at an offset of the file; false when they are not all there.
using ReadAt = std::function<bool(uint64_t offset, void* to, size_t bytes)>;

// Checks everything before the image changes; the pixels are read aside, so a
// file cut short leaves the image as it was.
int loadBitmap(DisplayImage& image, const ReadAt& readAt) {
  const std::lock_guard imageLock(image.mutex);
  BitmapFileHeader fileHeader{};
  if (!readAt(0, &fileHeader, sizeof fileHeader) || fileHeader.type != kBitmapType) return 0;
  ImageHeader header = image.header;
  if (!readAt(kInfoOffset, &header.info, sizeof header.info)) return 0;
  const BITMAPINFOHEADER& info = header.info;
  if (info.biSize < sizeof(BITMAPINFOHEADER) || info.biWidth <= 0 || info.biHeight <= 0 ||
      info.biCompression != BI_RGB || !knownBitCount(info.biBitCount))
    return 0;
  const uint64_t pixelBytes = pixelBytesOf(info);
  if (pixelBytes == 0 || pixelBytes > kImageBufferBytes) return 0;
  const uint64_t tableOffset = uint64_t{kInfoOffset} + info.biSize;
  if (fileHeader.pixelOffset < tableOffset) return 0;
  if (info.biBitCount <= 8) {
    // The colour table runs from the end of the information header to the pixels.
    const uint64_t tableBytes = fileHeader.pixelOffset - tableOffset;
    if (tableBytes > sizeof header.colours || tableBytes % 4 != 0) return 0;
    if (tableBytes != 0 && !readAt(tableOffset, header.colours, static_cast<size_t>(tableBytes))) return 0;
  }
  std::unique_ptr<uint8_t[]> pixels(new (std::nothrow) uint8_t[pixelBytes]);
  if (!pixels || !readAt(fileHeader.pixelOffset, pixels.get(), static_cast<size_t>(pixelBytes))) return 0;
  header.info.biSize = sizeof(BITMAPINFOHEADER);
  image.header = header;
  std::memcpy(image.pixels.get(), pixels.get(), pixelBytes);
  return 1;
}

}  // namespace

int saveBitmapFile(const DisplayImage& image, const std::string& path) {
  const std::lock_guard imageLock(image.mutex);
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
  return loadBitmap(image, [&file](uint64_t offset, void* to, size_t bytes) {
    if (offset > static_cast<uint64_t>(std::numeric_limits<long>::max())) return false;
    if (std::fseek(file.get(), static_cast<long>(offset), SEEK_SET) != 0) return false;
    return std::fread(to, 1, bytes, file.get()) == bytes;
  });
}

int loadBitmapBytes(DisplayImage& image, const uint8_t* data, size_t size) {
  if (!image.pixels || (data == nullptr && size != 0)) return 0;
  return loadBitmap(image, [data, size](uint64_t offset, void* to, size_t bytes) {
    if (offset > size || bytes > size - offset) return false;
    if (bytes != 0) std::memcpy(to, data + offset, bytes);
    return true;
  });
}

}  // namespace demo
