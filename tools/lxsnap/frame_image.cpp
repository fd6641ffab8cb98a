#include "frame_image.h"

#include <algorithm>
#include <cstring>

#include "lx/data_transform.h"
#include "lx/video_types.h"

namespace lxsnap {

namespace {

// Bits per pixel as LxDataTransform names the card's formats.
int32_t transformBits(int32_t format) {
  switch (format) {
    case LX_VIDEO_FORMAT_RGB888: return 24;
    case LX_VIDEO_FORMAT_RGB565: return 16;
    case LX_VIDEO_FORMAT_RGB555: return 15;
    case LX_VIDEO_FORMAT_RGB8888: return 32;
    case LX_VIDEO_FORMAT_GREY8_FULL:
    case LX_VIDEO_FORMAT_GREY8_LIMITED: return 8;
    default: return 0;
  }
}

// Lines of the bitmaps LxDataTransform reads and writes start on 4-byte boundaries.
uint32_t paddedLineBytes(uint32_t width, uint32_t bytesPerPixel) { return (width * bytesPerPixel + 3) & ~3u; }

uint8_t clampByte(int32_t value) { return static_cast<uint8_t>(std::clamp(value, 0, 255)); }

}  // namespace

bool isGreyFormat(int32_t format) {
  return format == LX_VIDEO_FORMAT_GREY8_FULL || format == LX_VIDEO_FORMAT_GREY8_LIMITED;
}

void yuv422LineToBgr(const uint8_t* line, uint32_t width, uint8_t* bgr) {
  for (uint32_t x = 0; x < width; ++x) {
    const uint8_t* pair = line + (x & ~1u) * 2;
    const int32_t y = line[2 * x] - 16;
    const int32_t u = pair[1] - 128;
    // An odd width leaves the last pixel without its V byte: no red-difference.
    const int32_t v = (x | 1) < width ? pair[3] - 128 : 0;
    // Fixed point x 256: 1.164, 1.596, 0.392, 0.813, 2.017.
    const int32_t luma = 298 * y + 128;
    bgr[3 * x + 0] = clampByte((luma + 516 * u) >> 8);
    bgr[3 * x + 1] = clampByte((luma - 100 * u - 208 * v) >> 8);
    bgr[3 * x + 2] = clampByte((luma + 409 * v) >> 8);
  }
}

LxStatus frameToImage(const uint8_t* frame, const FrameLayout& layout, Image* image) {
  const bool grey = isGreyFormat(layout.format);
  const int32_t bits = transformBits(layout.format);
  if (frame == nullptr || image == nullptr || layout.width == 0 || layout.lines == 0 ||
      (bits == 0 && layout.format != LX_VIDEO_FORMAT_YUV422)) {
    return LX_PARAMETER_INVALID;
  }
  image->width = layout.width;
  image->height = layout.lines;
  image->channels = grey ? 1 : 3;
  const uint32_t imageLineBytes = layout.width * image->channels;
  image->pixels.assign(size_t{imageLineBytes} * layout.lines, 0);

  if (layout.format == LX_VIDEO_FORMAT_YUV422) {
    for (uint32_t line = 0; line < layout.lines; ++line) {
      yuv422LineToBgr(frame + size_t{line} * layout.lineBytes(), layout.width,
                      image->pixels.data() + size_t{line} * imageLineBytes);
    }
    return LX_OK;
  }
  // The card packs its lines without padding; the transform reads and writes
  // padded lines, so each goes through a padded buffer, one line at a time.
  std::vector<uint8_t> source(paddedLineBytes(layout.width, layout.bytesPerPixel), 0);
  std::vector<uint8_t> converted(paddedLineBytes(layout.width, image->channels), 0);
  for (uint32_t line = 0; line < layout.lines; ++line) {
    std::memcpy(source.data(), frame + size_t{line} * layout.lineBytes(), layout.lineBytes());
    const LxStatus status =
        LxDataTransform(converted.data(), source.data(), static_cast<int32_t>(layout.width), 1, bits, 0);
    if (status != LX_OK) {
      return status;
    }
    std::memcpy(image->pixels.data() + size_t{line} * imageLineBytes, converted.data(), imageLineBytes);
  }
  return LX_OK;
}

}  // namespace lxsnap
