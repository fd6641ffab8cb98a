// Bitmap files of the display image: a 14-byte file header, the 40-byte
// information header as the image holds it, the 256-entry colour table for
// 8 bits or fewer, then the pixel rows (bottom-up, padded to 4 bytes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "democommon/display_image.h"

namespace demo {

#pragma pack(push, 2)
struct BitmapFileHeader {
  uint16_t type;  // "BM"
  uint32_t fileSize;
  uint16_t reserved1;
  uint16_t reserved2;
  uint32_t pixelOffset;
};
#pragma pack(pop)
static_assert(sizeof(BitmapFileHeader) == 14);
static_assert(offsetof(BitmapFileHeader, fileSize) == 2);
static_assert(offsetof(BitmapFileHeader, pixelOffset) == 10);

inline constexpr uint16_t kBitmapType = 0x4D42;  // "BM"

// 1 when written, and when there is nothing to write to (empty path, no
// image buffer); 0 when the image has no pixels (no file is made) or the
// file cannot be created.
int saveBitmapFile(const DisplayImage& image, const std::string& path);

// 1 when the file was read into the image, which then takes the file's
// header; 0 otherwise, with the image and its header as they were. Refused:
// a file that cannot be opened, is not "BM", is shorter than it says, is
// compressed or of an unknown bit count, is top-down (negative height),
// has more than 256 colours, or whose pixels would not fit the image buffer.
int loadBitmapFile(DisplayImage& image, const std::string& path);

// The same from a file's bytes held in memory (size bytes at data).
int loadBitmapBytes(DisplayImage& image, const uint8_t* data, size_t size);

}  // namespace demo
