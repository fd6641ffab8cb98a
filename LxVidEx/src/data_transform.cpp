// LxDataTransform: 8, 15, 16, 24 and 32-bit rows to 8 or 24-bit rows.
// The pixel work is done by the static-memory service's row converters
// (vector code chosen for this processor), which write exactly the pixel
// bytes of a row and nothing past them.
#include <cstring>
#include <new>

#include "lx/data_transform.h"
#include "pixel_rows.h"
#include "transform/pixel_rows.h"

namespace {

using lxvidex::imageBytes;
using lxvidex::rowStride;

hmb::RowConverter converterFor(const hmb::RowConverters& rows, int32_t bits) {
  switch (bits) {
    case 15: return rows.rgb555To24;
    case 16: return rows.rgb565To24;
    default: return rows.rgb32To24;
  }
}

// Converts every row; rows that lie back to back on both sides (no padding)
// go through the converter as one long row.
void convertRows(hmb::RowConverter convert, uint8_t* out, uint64_t outStride, const uint8_t* in, uint64_t inStride,
                 uint64_t width, uint64_t bytesPerPixel, uint64_t rows, bool flip) {
  if (!flip && inStride == width * bytesPerPixel && outStride == width * 3) {
    convert(out, in, width * rows);
    return;
  }
  for (uint64_t r = 0; r < rows; ++r) {
    convert(out + (flip ? rows - 1 - r : r) * outStride, in + r * inStride, width);
  }
}

}  // namespace

LX_EXPORT LxStatus LxDataTransform(void* destination, const void* source, int32_t width, int32_t height, int32_t bits,
                                   int32_t flip) {
  if (destination == nullptr || source == nullptr || width <= 0 || height <= 0) {
    return LX_PARAMETER_INVALID;
  }
  if (bits != 8 && bits != 15 && bits != 16 && bits != 24 && bits != 32) {
    return LX_PARAMETER_INVALID;
  }
  const auto w = static_cast<uint64_t>(width);
  const auto rows = static_cast<uint64_t>(height);
  const uint64_t inStride = rowStride(w, static_cast<uint64_t>(bits));
  const uint64_t outBits = bits == 8 ? 8 : 24;
  const uint64_t outStride = rowStride(w, outBits);
  const uint64_t inBytes = imageBytes(inStride, rows);
  const uint64_t outBytes = imageBytes(outStride, rows);
  if (inBytes == 0 || outBytes == 0) {
    return LX_PARAMETER_INVALID;
  }
  const bool copyOnly = bits == 8 || bits == 24;
  if (copyOnly && flip == 0 && destination == source) {
    return LX_OK;  // an image copied onto itself is already the result
  }
  try {
    const lxvidex::SourceView view(source, inBytes, destination, outBytes);
    const uint8_t* in = view.data();
    auto* out = static_cast<uint8_t*>(destination);
    const hmb::RowConverters& converters = hmb::bestRowConverters();
    if (copyOnly) {
      if (flip == 0) {
        std::memcpy(out, in, inBytes);  // same stride: the whole image at once
      } else {
        converters.copyLinesReversed(out, outStride, in, inStride, w * outBits / 8, rows);
      }
      return LX_OK;
    }
    const uint64_t bytesPerPixel = bits == 32 ? 4 : 2;
    convertRows(converterFor(converters, bits), out, outStride, in, inStride, w, bytesPerPixel, rows, flip != 0);
    return LX_OK;
  } catch (const std::bad_alloc&) {
    return LX_NOT_ENOUGH_SYSTEM_MEMORY;
  }
}
