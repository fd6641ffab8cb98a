// Arbitrary bytes as a bitmap file. A refused file must leave the image
// exactly as it was (header, colour table, pixels); an accepted one must give
// a header whose pixels fit the buffer and are the file's bytes at its pixel
// offset.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "democommon/bitmap_file.h"

namespace {

// The image persists across inputs, as in the programs, so a load after an
// accepted file starts from that file's header.
demo::DisplayImage& image() {
  static demo::DisplayImage* shared = [] {
    auto* made = new demo::DisplayImage;
    if (!made->allocate()) std::abort();
    demo::resetImageHeader(&made->header);
    return made;
  }();
  return *shared;
}

void check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  demo::DisplayImage& target = image();
  const demo::ImageHeader before = target.header;
  static uint8_t* const pixelsBefore = new uint8_t[demo::kImageBufferBytes];
  std::memcpy(pixelsBefore, target.pixels.get(), demo::kImageBufferBytes);

  const int loaded = demo::loadBitmapBytes(target, data, size);
  if (loaded == 0) {
    check(std::memcmp(&before, &target.header, sizeof before) == 0);
    check(std::memcmp(pixelsBefore, target.pixels.get(), demo::kImageBufferBytes) == 0);
    return 0;
  }
  check(loaded == 1);
  const BITMAPINFOHEADER& info = target.header.info;
  check(info.biSize == sizeof(BITMAPINFOHEADER));
  check(info.biWidth > 0 && info.biHeight > 0 && info.biCompression == BI_RGB);
  const int bits = info.biBitCount;
  check(bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32);
  const uint64_t pixelBytes = demo::pixelBytesOf(info);
  check(pixelBytes > 0 && pixelBytes <= demo::kImageBufferBytes);

  demo::BitmapFileHeader fileHeader{};
  check(size >= sizeof fileHeader);
  std::memcpy(&fileHeader, data, sizeof fileHeader);
  check(fileHeader.type == demo::kBitmapType);
  // The file's own information header may be longer than the 40 bytes kept.
  uint32_t fileInfoSize = 0;
  check(size >= sizeof fileHeader + sizeof(BITMAPINFOHEADER));
  std::memcpy(&fileInfoSize, data + sizeof fileHeader, sizeof fileInfoSize);
  const uint64_t tableOffset = uint64_t{sizeof fileHeader} + fileInfoSize;
  check(fileInfoSize >= sizeof(BITMAPINFOHEADER) && fileHeader.pixelOffset >= tableOffset);
  check(fileHeader.pixelOffset <= size && pixelBytes <= size - fileHeader.pixelOffset);
  check(std::memcmp(target.pixels.get(), data + fileHeader.pixelOffset, pixelBytes) == 0);
  // Past the file's pixels the buffer keeps what it held.
  check(std::memcmp(target.pixels.get() + pixelBytes, pixelsBefore + pixelBytes,
                    demo::kImageBufferBytes - pixelBytes) == 0);
  if (bits <= 8) {
    // The colour table is the file's bytes between the headers and the pixels;
    // entries past it keep the previous image's colours.
    const size_t tableBytes = static_cast<size_t>(fileHeader.pixelOffset - tableOffset);
    check(tableBytes <= sizeof target.header.colours);
    check(std::memcmp(target.header.colours, data + tableOffset, tableBytes) == 0);
    check(std::memcmp(reinterpret_cast<const uint8_t*>(target.header.colours) + tableBytes,
                      reinterpret_cast<const uint8_t*>(before.colours) + tableBytes,
                      sizeof before.colours - tableBytes) == 0);
  }
  return 0;
}
