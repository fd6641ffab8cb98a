// LxDataInterchange: horizontal and vertical halving and line doubling.
#include <cstring>
#include <new>

#include "lx/data_transform.h"
#include "pixel_rows.h"

namespace {

using lxvidex::imageBytes;
using lxvidex::rowStride;

}  // namespace

LX_EXPORT LxStatus LxDataInterchange(void* destination, const void* source, int32_t width, int32_t height,
                                     int32_t bits, int32_t mode) {
  if (destination == nullptr || source == nullptr || width <= 0 || height <= 0 || bits <= 0 || mode < 0 ||
      mode > 4) {
    return LX_PARAMETER_INVALID;
  }
  const auto w = static_cast<uint64_t>(width);
  const auto rows = static_cast<uint64_t>(height);
  const uint64_t n = (static_cast<uint64_t>(bits) + 7) / 8;
  const uint64_t inStride = rowStride(w, static_cast<uint64_t>(bits));
  const uint64_t outWidth = mode <= 1 ? w / 2 : w;
  const uint64_t outStride = mode <= 1 ? rowStride(outWidth, static_cast<uint64_t>(bits)) : inStride;
  const uint64_t outRows = mode <= 1 ? rows : (mode == 4 ? 2 * rows : rows / 2);
  const uint64_t inBytes = imageBytes(inStride, rows);
  if (inBytes == 0 || (outStride != 0 && outRows != 0 && imageBytes(outStride, outRows) == 0)) {
    return LX_PARAMETER_INVALID;
  }
  try {
    const lxvidex::SourceView view(source, inBytes, destination, outStride * outRows);
    const uint8_t* in = view.data();
    auto* out = static_cast<uint8_t*>(destination);
    if (mode <= 1) {
      const uint64_t first = mode == 0 ? 1 : 0;  // mode 0 keeps the odd pixels
      for (uint64_t r = 0; r < rows; ++r) {
        const uint8_t* from = in + r * inStride;
        uint8_t* to = out + r * outStride;
        for (uint64_t j = 0; j < outWidth; ++j) {
          std::memcpy(to + j * n, from + (2 * j + first) * n, n);
        }
      }
    } else if (mode <= 3) {
      const uint64_t first = mode == 3 ? 1 : 0;  // mode 3 keeps the odd rows
      for (uint64_t r = 0; r < outRows; ++r) {
        std::memcpy(out + r * outStride, in + (2 * r + first) * inStride, inStride);
      }
    } else {
      for (uint64_t r = 0; r < rows; ++r) {
        std::memcpy(out + 2 * r * outStride, in + r * inStride, inStride);
        std::memcpy(out + (2 * r + 1) * outStride, in + r * inStride, inStride);
      }
    }
    return LX_OK;
  } catch (const std::bad_alloc&) {
    return LX_NOT_ENOUGH_SYSTEM_MEMORY;
  }
}
