// AVX2 row converters. Stores run a few bytes past the packed pixels and the
// next store overwrites them; the last group of a row is stored exactly and
// what is left (fewer than 8 or 16 pixels) goes through the scalar
// converters. This file is built with -mavx2 and is only entered after the
// processor was checked.
#include <immintrin.h>

#include "transform/pixel_rows.h"

namespace hmb {
namespace {

// Within each 128-bit lane: bytes 0-2 of each of the four 32-bit pixels to
// the lane's first 12 bytes.
inline __m256i packLanes(__m256i bgrx) {
  const __m256i laneShuffle = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1,  //
                                               0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  return _mm256_shuffle_epi8(bgrx, laneShuffle);
}

// The two lanes' 12 bytes side by side: eight pixels in bytes 0-23.
inline __m256i pack32To24(__m256i bgrx) {
  return _mm256_permutevar8x32_epi32(packLanes(bgrx), _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7));
}

// Sixteen 16-bit pixels become 48 packed bytes. The components are placed
// in 16-bit lanes (blue and green together, red alone) and interleaved to
// blue-green-red-zero pixels: `low` holds pixels 0-3 and 8-11, `high` pixels
// 4-7 and 12-15. Each 128-bit lane then packs to 12 bytes and is stored on
// its own, which needs no shuffle across lanes (the costly part here).
struct Rgb565 {
  static __m256i blueGreen(__m256i v) {
    return _mm256_or_si256(_mm256_and_si256(_mm256_slli_epi16(v, 3), _mm256_set1_epi16(0x00F8)),
                           _mm256_and_si256(_mm256_slli_epi16(v, 5), _mm256_set1_epi16(static_cast<short>(0xFC00))));
  }
  static __m256i red(__m256i v) { return _mm256_and_si256(_mm256_srli_epi16(v, 8), _mm256_set1_epi16(0x00F8)); }
};

struct Rgb555 {
  static __m256i blueGreen(__m256i v) {
    return _mm256_or_si256(_mm256_and_si256(_mm256_slli_epi16(v, 3), _mm256_set1_epi16(0x00F8)),
                           _mm256_and_si256(_mm256_slli_epi16(v, 6), _mm256_set1_epi16(static_cast<short>(0xF800))));
  }
  static __m256i red(__m256i v) { return _mm256_and_si256(_mm256_srli_epi16(v, 7), _mm256_set1_epi16(0x00F8)); }
};

struct SixteenPixels {
  __m128i pixels0to3, pixels4to7, pixels8to11, pixels12to15;  // 12 bytes each, 4 spare
};

template <class Layout>
inline SixteenPixels expand16(const uint8_t* src) {
  const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src));
  const __m256i bg = Layout::blueGreen(v);
  const __m256i r = Layout::red(v);
  const __m256i low = packLanes(_mm256_unpacklo_epi16(bg, r));
  const __m256i high = packLanes(_mm256_unpackhi_epi16(bg, r));
  return {_mm256_castsi256_si128(low), _mm256_castsi256_si128(high), _mm256_extracti128_si256(low, 1),
          _mm256_extracti128_si256(high, 1)};
}

inline void store16(uint8_t* dst, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), v); }

// Each 16-byte store's 4 spare bytes are overwritten by the next one; the
// last group of a row stores its last 12 bytes exactly.
inline void store48(uint8_t* dst, const SixteenPixels& p) {
  store16(dst, p.pixels0to3);
  store16(dst + 12, p.pixels4to7);
  store16(dst + 24, p.pixels8to11);
  store16(dst + 36, p.pixels12to15);
}

inline void store48Exact(uint8_t* dst, const SixteenPixels& p) {
  store16(dst, p.pixels0to3);
  store16(dst + 12, p.pixels4to7);
  store16(dst + 24, p.pixels8to11);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 36), p.pixels12to15);
  const auto last = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(p.pixels12to15, 8)));
  __builtin_memcpy(dst + 44, &last, 4);
}

template <class Layout>
void rgb16To24(uint8_t* dst, const uint8_t* src, size_t pixels, RowConverter tail) {
  size_t p = 0;
  // A whole group at p writes 3 * p + 52 bytes.
  for (; p + 18 <= pixels; p += 16) {
    store48(dst + 3 * p, expand16<Layout>(src + 2 * p));
  }
  if (p + 16 <= pixels) {
    store48Exact(dst + 3 * p, expand16<Layout>(src + 2 * p));
    p += 16;
  }
  tail(dst + 3 * p, src + 2 * p, pixels - p);
}

// One 32-byte store; the 8 bytes past the 24 are overwritten by the next.
inline void store24(uint8_t* dst, __m256i packed) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), packed); }

// Exactly 24 bytes, for the end of a row.
inline void store24Exact(uint8_t* dst, __m256i packed) {
  store16(dst, _mm256_castsi256_si128(packed));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 16), _mm256_extracti128_si256(packed, 1));
}

inline __m256i load32(const uint8_t* src) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src)); }

// A 32-byte store at output pixel p needs (pixels - p) * 3 >= 32.
constexpr size_t kStoreSlack = 11;

void rgb565To24(uint8_t* dst, const uint8_t* src, size_t pixels) {
  rgb16To24<Rgb565>(dst, src, pixels, scalarRowConverters().rgb565To24);
}

void rgb555To24(uint8_t* dst, const uint8_t* src, size_t pixels) {
  rgb16To24<Rgb555>(dst, src, pixels, scalarRowConverters().rgb555To24);
}

void rgb32To24(uint8_t* dst, const uint8_t* src, size_t pixels) {
  size_t p = 0;
  for (; p + 24 + kStoreSlack <= pixels; p += 32) {
    store24(dst + 3 * p, pack32To24(load32(src + 4 * p)));
    store24(dst + 3 * p + 24, pack32To24(load32(src + 4 * p + 32)));
    store24(dst + 3 * p + 48, pack32To24(load32(src + 4 * p + 64)));
    store24(dst + 3 * p + 72, pack32To24(load32(src + 4 * p + 96)));
  }
  for (; p + kStoreSlack <= pixels; p += 8) {
    store24(dst + 3 * p, pack32To24(load32(src + 4 * p)));
  }
  for (; p + 8 <= pixels; p += 8) {
    store24Exact(dst + 3 * p, pack32To24(load32(src + 4 * p)));
  }
  scalarRowConverters().rgb32To24(dst + 3 * p, src + 4 * p, pixels - p);
}

// Short lines make a call to memcpy per line costly; the copy stays inline.
// The first 32 bytes of a line are one unaligned store; from the next 32-byte
// boundary of the destination on the stores are aligned (a store across two
// cache lines costs twice), and the last 32 bytes overlap what came before.
void copyLine(uint8_t* to, const uint8_t* from, size_t lineBytes) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), load32(from));
  size_t b = 32 - (reinterpret_cast<uintptr_t>(to) & 31);
  for (; b + 128 <= lineBytes; b += 128) {
    const __m256i a0 = load32(from + b), a1 = load32(from + b + 32);
    const __m256i a2 = load32(from + b + 64), a3 = load32(from + b + 96);
    _mm256_store_si256(reinterpret_cast<__m256i*>(to + b), a0);
    _mm256_store_si256(reinterpret_cast<__m256i*>(to + b + 32), a1);
    _mm256_store_si256(reinterpret_cast<__m256i*>(to + b + 64), a2);
    _mm256_store_si256(reinterpret_cast<__m256i*>(to + b + 96), a3);
  }
  for (; b + 32 <= lineBytes; b += 32) {
    _mm256_store_si256(reinterpret_cast<__m256i*>(to + b), load32(from + b));
  }
  if (b < lineBytes) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + lineBytes - 32), load32(from + lineBytes - 32));
  }
}

void copyLinesReversed(uint8_t* dst, size_t dstStride, const uint8_t* src, size_t srcStride, size_t lineBytes,
                       size_t lines) {
  if (lineBytes < 32) {
    scalarRowConverters().copyLinesReversed(dst, dstStride, src, srcStride, lineBytes, lines);
    return;
  }
  // Destination lines in ascending order: the writes stream forward, which
  // measured faster than streaming the reads forward.
  for (size_t i = 0; i < lines; ++i) {
    copyLine(dst + i * dstStride, src + (lines - 1 - i) * srcStride, lineBytes);
  }
}

const RowConverters kAvx2{rgb565To24, rgb555To24, rgb32To24, copyLinesReversed};

}  // namespace

const RowConverters& avx2RowConverters() { return kAvx2; }

}  // namespace hmb
