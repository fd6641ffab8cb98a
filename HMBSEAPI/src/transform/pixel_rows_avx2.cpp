// AVX2 row converters. Eight pixels at a time become 24 packed bytes, stored
// with one 32-byte store; the next store overwrites the 8 spare bytes, so the
// vector loop runs only while a whole 32-byte store fits in the row and the
// rest goes through the scalar converters. This file is built with -mavx2 and
// is only entered after the processor was checked.
#include <immintrin.h>

#include "transform/pixel_rows.h"

namespace hmb {
namespace {

// Within each 128-bit lane: bytes 0-2 of each of the four 32-bit pixels to
// the lane's first 12 bytes; then the two 12-byte halves side by side.
inline __m256i pack32To24(__m256i bgrx) {
  const __m256i laneShuffle = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1,  //
                                               0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  const __m256i joinLanes = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7);
  return _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(bgrx, laneShuffle), joinLanes);
}

// 5-6-5: blue bits 0-4 to 3-7, green bits 5-10 to 10-15, red bits 11-15 to 19-23.
inline __m256i expand565(__m128i eightPixels) {
  const __m256i v = _mm256_cvtepu16_epi32(eightPixels);
  const __m256i b = _mm256_and_si256(_mm256_slli_epi32(v, 3), _mm256_set1_epi32(0x0000F8));
  const __m256i g = _mm256_and_si256(_mm256_slli_epi32(v, 5), _mm256_set1_epi32(0x00FC00));
  const __m256i r = _mm256_and_si256(_mm256_slli_epi32(v, 8), _mm256_set1_epi32(0xF80000));
  return _mm256_or_si256(_mm256_or_si256(b, g), r);
}

// 5-5-5: blue bits 0-4 to 3-7, green bits 5-9 to 11-15, red bits 10-14 to 19-23.
inline __m256i expand555(__m128i eightPixels) {
  const __m256i v = _mm256_cvtepu16_epi32(eightPixels);
  const __m256i b = _mm256_and_si256(_mm256_slli_epi32(v, 3), _mm256_set1_epi32(0x0000F8));
  const __m256i g = _mm256_and_si256(_mm256_slli_epi32(v, 6), _mm256_set1_epi32(0x00F800));
  const __m256i r = _mm256_and_si256(_mm256_slli_epi32(v, 9), _mm256_set1_epi32(0xF80000));
  return _mm256_or_si256(_mm256_or_si256(b, g), r);
}

inline void store24(uint8_t* dst, __m256i packed) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), packed); }

inline __m128i load16(const uint8_t* src) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(src)); }
inline __m256i load32(const uint8_t* src) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src)); }

// A 32-byte store at output pixel p needs (pixels - p) * 3 >= 32.
constexpr size_t kStoreSlack = 11;

template <__m256i (*Expand)(__m128i)>
void rgb16To24(uint8_t* dst, const uint8_t* src, size_t pixels, RowConverter tail) {
  size_t p = 0;
  for (; p + 24 + kStoreSlack <= pixels; p += 32) {
    store24(dst + 3 * p, pack32To24(Expand(load16(src + 2 * p))));
    store24(dst + 3 * p + 24, pack32To24(Expand(load16(src + 2 * p + 16))));
    store24(dst + 3 * p + 48, pack32To24(Expand(load16(src + 2 * p + 32))));
    store24(dst + 3 * p + 72, pack32To24(Expand(load16(src + 2 * p + 48))));
  }
  for (; p + kStoreSlack <= pixels; p += 8) {
    store24(dst + 3 * p, pack32To24(Expand(load16(src + 2 * p))));
  }
  tail(dst + 3 * p, src + 2 * p, pixels - p);
}

void rgb565To24(uint8_t* dst, const uint8_t* src, size_t pixels) {
  rgb16To24<expand565>(dst, src, pixels, scalarRowConverters().rgb565To24);
}

void rgb555To24(uint8_t* dst, const uint8_t* src, size_t pixels) {
  rgb16To24<expand555>(dst, src, pixels, scalarRowConverters().rgb555To24);
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
  scalarRowConverters().rgb32To24(dst + 3 * p, src + 4 * p, pixels - p);
}

// Short lines make a call to memcpy per line costly; the copy stays inline.
// The last 32 bytes of a line are copied with an overlapping store.
void copyLinesReversed(uint8_t* dst, const uint8_t* src, size_t lineBytes, size_t lines) {
  if (lineBytes < 32) {
    scalarRowConverters().copyLinesReversed(dst, src, lineBytes, lines);
    return;
  }
  for (size_t i = 0; i < lines; ++i) {
    const uint8_t* from = src + i * lineBytes;
    uint8_t* to = dst + (lines - 1 - i) * lineBytes;
    size_t b = 0;
    for (; b + 128 <= lineBytes; b += 128) {
      const __m256i a0 = load32(from + b), a1 = load32(from + b + 32);
      const __m256i a2 = load32(from + b + 64), a3 = load32(from + b + 96);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + b), a0);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + b + 32), a1);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + b + 64), a2);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + b + 96), a3);
    }
    for (; b + 32 <= lineBytes; b += 32) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + b), load32(from + b));
    }
    if (b < lineBytes) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + lineBytes - 32), load32(from + lineBytes - 32));
    }
  }
}

const RowConverters kAvx2{rgb565To24, rgb555To24, rgb32To24, copyLinesReversed};

}  // namespace

const RowConverters& avx2RowConverters() { return kAvx2; }

}  // namespace hmb
