// Row converters of the line transform. A row is a run of packed pixels; the
// output is 24-bit (blue, green, red byte order, as the source lays them out).
// Each converter writes exactly pixels x 3 bytes at dst and nothing beyond.
#pragma once

#include <cstddef>
#include <cstdint>

namespace hmb {

using RowConverter = void (*)(uint8_t* dst, const uint8_t* src, size_t pixels);
// Copies `lines` lines of lineBytes each, source line i (at i x srcStride) to
// destination line lines - 1 - i (at (lines - 1 - i) x dstStride); bytes
// between lines are left alone. Buffers do not overlap.
using ReversedLineCopier = void (*)(uint8_t* dst, size_t dstStride, const uint8_t* src, size_t srcStride,
                                    size_t lineBytes, size_t lines);

struct RowConverters {
  RowConverter rgb565To24;  // 5-6-5, low component bits zero
  RowConverter rgb555To24;  // 5-5-5, bit 15 ignored, low component bits zero
  RowConverter rgb32To24;   // bytes 0, 1, 2 of each pixel; byte 3 dropped
  ReversedLineCopier copyLinesReversed;
};

// Portable converters, one pixel at a time.
const RowConverters& scalarRowConverters();
// AVX2 converters; only valid where the processor has AVX2.
const RowConverters& avx2RowConverters();
// AVX-512 converters (byte permutation); only valid where the processor has
// AVX512BW and AVX512VBMI.
const RowConverters& avx512RowConverters();
// The fastest set this processor runs, chosen once.
const RowConverters& bestRowConverters();

}  // namespace hmb
