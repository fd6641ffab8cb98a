#include "transform/transform_mem.h"

#include <cstddef>
#include <cstring>

#include "transform/pixel_rows.h"

namespace hmb {
namespace {

constexpr int32_t kRgb565Layout = 2;

// Converts to 24-bit. Lines are packed without gaps on both sides, so
// without a flip the whole picture is one long row.
void convert(RowConverter row, uint8_t* dst, const uint8_t* src, size_t width, size_t lines, size_t srcBytes,
             bool flip) {
  if (!flip) {
    row(dst, src, width * lines);
    return;
  }
  const size_t srcLine = width * srcBytes;
  const size_t dstLine = width * 3;
  for (size_t i = 0; i < lines; ++i) {
    row(dst + (lines - 1 - i) * dstLine, src + i * srcLine, width);
  }
}

}  // namespace

int32_t transformMem(void* dstAddress, const void* srcAddress, int32_t width, int32_t lines, int32_t bytesPerPixel,
                     int32_t rgb16Layout, int32_t flipVertical) {
  if (width <= 0 || lines <= 0) {
    return 1;  // nothing to copy; negative sizes are refused the same way
  }
  if (dstAddress == nullptr || srcAddress == nullptr) {
    return 0;  // lines to copy and nowhere to take or put them
  }
  auto* dst = static_cast<uint8_t*>(dstAddress);
  const auto* src = static_cast<const uint8_t*>(srcAddress);
  const size_t w = static_cast<size_t>(width);
  const size_t n = static_cast<size_t>(lines);
  const bool flip = flipVertical != 0;
  const RowConverters& rows = bestRowConverters();

  switch (bytesPerPixel) {
    case 1:
    case 3:
      break;
    case 2:
      if (rgb16Layout != 0) {
        convert(rgb16Layout == kRgb565Layout ? rows.rgb565To24 : rows.rgb555To24, dst, src, w, n, 2, flip);
        return 1;
      }
      break;
    case 4:
      convert(rows.rgb32To24, dst, src, w, n, 4, flip);
      return 1;
    default:
      return 1;  // no such pixel size: nothing is written
  }
  // Same pixel size on both sides: whole block, or lines in reverse order.
  const size_t lineBytes = w * static_cast<size_t>(bytesPerPixel);
  if (flip) {
    rows.copyLinesReversed(dst, lineBytes, src, lineBytes, lineBytes, n);
  } else {
    std::memcpy(dst, src, lineBytes * n);
  }
  return 1;
}

}  // namespace hmb
