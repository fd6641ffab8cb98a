// LxDataTransform: 8, 15, 16, 24 and 32-bit rows to 8 or 24-bit rows.
#include <cstring>
#include <new>

#include "lx/data_transform.h"
#include "pixel_rows.h"

namespace {

using lxvidex::imageBytes;
using lxvidex::rowStride;

// A 5-6-5 word (lo, hi) as B, G, R with each channel at the top of its byte.
void from565(const uint8_t* in, uint8_t* out, uint64_t width) {
  for (uint64_t i = 0; i < width; ++i, in += 2, out += 3) {
    const uint8_t lo = in[0], hi = in[1];
    out[0] = static_cast<uint8_t>(lo << 3);
    out[1] = static_cast<uint8_t>(((lo >> 3) & 0x1C) | (hi << 5));
    out[2] = static_cast<uint8_t>(hi & 0xF8);
  }
}

// A 5-5-5 word (lo, hi; bit 15 ignored) as B, G, R.
void from555(const uint8_t* in, uint8_t* out, uint64_t width) {
  for (uint64_t i = 0; i < width; ++i, in += 2, out += 3) {
    const uint8_t lo = in[0], hi = in[1];
    out[0] = static_cast<uint8_t>(lo << 3);
    out[1] = static_cast<uint8_t>(((lo >> 2) & 0x38) | (hi << 6));
    out[2] = static_cast<uint8_t>((hi & 0xFC) * 2);
  }
}

void from8888(const uint8_t* in, uint8_t* out, uint64_t width) {
  for (uint64_t i = 0; i < width; ++i, in += 4, out += 3) {
    std::memcpy(out, in, 3);
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
  try {
    const lxvidex::SourceView view(source, inBytes, destination, outBytes);
    const uint8_t* in = view.data();
    auto* out = static_cast<uint8_t*>(destination);
    if ((bits == 8 || bits == 24) && flip == 0) {
      std::memcpy(out, in, inBytes);  // same stride: the whole image at once
      return LX_OK;
    }
    for (uint64_t r = 0; r < rows; ++r) {
      const uint8_t* from = in + r * inStride;
      uint8_t* to = out + (flip != 0 ? rows - 1 - r : r) * outStride;
      switch (bits) {
        case 8: std::memcpy(to, from, w); break;
        case 15: from555(from, to, w); break;
        case 16: from565(from, to, w); break;
        case 24: std::memcpy(to, from, w * 3); break;
        default: from8888(from, to, w); break;
      }
    }
    return LX_OK;
  } catch (const std::bad_alloc&) {
    return LX_NOT_ENOUGH_SYSTEM_MEMORY;
  }
}
