#include "transform/pixel_rows.h"

#include <cstring>

namespace hmb {
namespace {

// Component positions of a 16-bit pixel v = high << 8 | low, widened to 8 bits
// by a left shift only: the low bits stay 0, high bits are not repeated.
void rgb565To24(uint8_t* dst, const uint8_t* src, size_t pixels) {
  for (size_t i = 0; i < pixels; ++i, src += 2, dst += 3) {
    const uint32_t v = static_cast<uint32_t>(src[0]) | static_cast<uint32_t>(src[1]) << 8;
    dst[0] = static_cast<uint8_t>((v & 0x1F) << 3);
    dst[1] = static_cast<uint8_t>(((v >> 5) & 0x3F) << 2);
    dst[2] = static_cast<uint8_t>(((v >> 11) & 0x1F) << 3);
  }
}

void rgb555To24(uint8_t* dst, const uint8_t* src, size_t pixels) {
  for (size_t i = 0; i < pixels; ++i, src += 2, dst += 3) {
    const uint32_t v = static_cast<uint32_t>(src[0]) | static_cast<uint32_t>(src[1]) << 8;
    dst[0] = static_cast<uint8_t>((v & 0x1F) << 3);
    dst[1] = static_cast<uint8_t>(((v >> 5) & 0x1F) << 3);
    dst[2] = static_cast<uint8_t>(((v >> 10) & 0x1F) << 3);
  }
}

void rgb32To24(uint8_t* dst, const uint8_t* src, size_t pixels) {
  for (size_t i = 0; i < pixels; ++i, src += 4, dst += 3) {
    dst[0] = src[0];
    dst[1] = src[1];
    dst[2] = src[2];
  }
}

void copyLinesReversed(uint8_t* dst, size_t dstStride, const uint8_t* src, size_t srcStride, size_t lineBytes,
                       size_t lines) {
  for (size_t i = 0; i < lines; ++i) {
    std::memcpy(dst + (lines - 1 - i) * dstStride, src + i * srcStride, lineBytes);
  }
}

constexpr RowConverters kScalar{rgb565To24, rgb555To24, rgb32To24, copyLinesReversed};

}  // namespace

const RowConverters& scalarRowConverters() { return kScalar; }

const RowConverters& bestRowConverters() {
  static const RowConverters& best = __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi")
                                         ? avx512RowConverters()
                                     : __builtin_cpu_supports("avx2") ? avx2RowConverters()
                                                                      : kScalar;
  return best;
}

}  // namespace hmb
