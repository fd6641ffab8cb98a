// AVX-512 (VBMI) row converters: sixteen pixels at a time become 48 packed
// bytes through one byte permutation and one masked store, so nothing is
// written past the row. Built with -mavx512bw -mavx512vbmi and only entered
// after the processor was checked.
#include <immintrin.h>

#include "transform/pixel_rows.h"

namespace hmb {
namespace {

// Bytes 0-2 of each 32-bit pixel, packed.
inline __m512i pack32To24(__m512i bgrx) {
  alignas(64) static constexpr uint8_t kIndex[64] = {
      0,  1,  2,  4,  5,  6,  8,  9,  10, 12, 13, 14, 16, 17, 18, 20, 21, 22, 24, 25, 26, 28,
      29, 30, 32, 33, 34, 36, 37, 38, 40, 41, 42, 44, 45, 46, 48, 49, 50, 52, 53, 54, 56, 57,
      58, 60, 61, 62, 0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0};
  return _mm512_permutexvar_epi8(_mm512_load_si512(kIndex), bgrx);
}

constexpr __mmask64 kStore48 = (__mmask64{1} << 48) - 1;

inline void store48(uint8_t* dst, __m512i packed) { _mm512_mask_storeu_epi8(dst, kStore48, packed); }

// 5-6-5: blue bits 0-4 to 3-7, green bits 5-10 to 10-15, red bits 11-15 to 19-23.
inline __m512i expand565(__m256i sixteenPixels) {
  const __m512i v = _mm512_cvtepu16_epi32(sixteenPixels);
  const __m512i b = _mm512_and_si512(_mm512_slli_epi32(v, 3), _mm512_set1_epi32(0x0000F8));
  const __m512i g = _mm512_and_si512(_mm512_slli_epi32(v, 5), _mm512_set1_epi32(0x00FC00));
  const __m512i r = _mm512_and_si512(_mm512_slli_epi32(v, 8), _mm512_set1_epi32(0xF80000));
  return _mm512_or_si512(_mm512_or_si512(b, g), r);
}

// 5-5-5: blue bits 0-4 to 3-7, green bits 5-9 to 11-15, red bits 10-14 to 19-23.
inline __m512i expand555(__m256i sixteenPixels) {
  const __m512i v = _mm512_cvtepu16_epi32(sixteenPixels);
  const __m512i b = _mm512_and_si512(_mm512_slli_epi32(v, 3), _mm512_set1_epi32(0x0000F8));
  const __m512i g = _mm512_and_si512(_mm512_slli_epi32(v, 6), _mm512_set1_epi32(0x00F800));
  const __m512i r = _mm512_and_si512(_mm512_slli_epi32(v, 9), _mm512_set1_epi32(0xF80000));
  return _mm512_or_si512(_mm512_or_si512(b, g), r);
}

inline __m256i load32(const uint8_t* src) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src)); }
inline __m512i load64(const uint8_t* src) { return _mm512_loadu_si512(src); }

template <__m512i (*Expand)(__m256i)>
void rgb16To24(uint8_t* dst, const uint8_t* src, size_t pixels, RowConverter tail) {
  size_t p = 0;
  for (; p + 32 <= pixels; p += 32) {
    store48(dst + 3 * p, pack32To24(Expand(load32(src + 2 * p))));
    store48(dst + 3 * p + 48, pack32To24(Expand(load32(src + 2 * p + 32))));
  }
  for (; p + 16 <= pixels; p += 16) {
    store48(dst + 3 * p, pack32To24(Expand(load32(src + 2 * p))));
  }
  tail(dst + 3 * p, src + 2 * p, pixels - p);
}

void rgb565To24(uint8_t* dst, const uint8_t* src, size_t pixels) {
  rgb16To24<expand565>(dst, src, pixels, scalarRowConverters().rgb565To24);
}

void rgb555To24(uint8_t* dst, const uint8_t* src, size_t pixels) {
  rgb16To24<expand555>(dst, src, pixels, scalarRowConverters().rgb555To24);
}

// Three of the byte indexes that pick 64 packed output bytes from two
// neighbouring vectors of sixteen 32-bit pixels (index bit 6 selects the
// second): output vector k takes stream bytes 64k to 64k + 63, which lie in
// input vectors k and k + 1.
struct Pack2Index {
  uint8_t byte[3][64];
};

constexpr Pack2Index makePack2Index() {
  Pack2Index index{};
  for (int k = 0; k < 3; ++k) {
    for (int j = 0; j < 64; ++j) {
      const int packed = 64 * k + j, pixel = packed / 3, component = packed % 3;
      const int fromSecond = pixel / 16 == k ? 0 : 64;
      index.byte[k][j] = static_cast<uint8_t>(fromSecond + 4 * (pixel % 16) + component);
    }
  }
  return index;
}

alignas(64) constexpr Pack2Index kPack2Index = makePack2Index();

// Sixty-four pixels a step as three whole 64-byte stores (no masked store,
// nothing written ahead), which keeps pace with the memory where the
// one-vector packing fell a few percent behind; sixteen at a time after.
void rgb32To24(uint8_t* dst, const uint8_t* src, size_t pixels) {
  const __m512i index0 = _mm512_load_si512(kPack2Index.byte[0]);
  const __m512i index1 = _mm512_load_si512(kPack2Index.byte[1]);
  const __m512i index2 = _mm512_load_si512(kPack2Index.byte[2]);
  size_t p = 0;
  for (; p + 64 <= pixels; p += 64) {
    const __m512i a = load64(src + 4 * p), b = load64(src + 4 * p + 64);
    const __m512i c = load64(src + 4 * p + 128), d = load64(src + 4 * p + 192);
    _mm512_storeu_si512(dst + 3 * p, _mm512_permutex2var_epi8(a, index0, b));
    _mm512_storeu_si512(dst + 3 * p + 64, _mm512_permutex2var_epi8(b, index1, c));
    _mm512_storeu_si512(dst + 3 * p + 128, _mm512_permutex2var_epi8(c, index2, d));
  }
  for (; p + 16 <= pixels; p += 16) {
    store48(dst + 3 * p, pack32To24(load64(src + 4 * p)));
  }
  scalarRowConverters().rgb32To24(dst + 3 * p, src + 4 * p, pixels - p);
}

// Copies one line with 64-byte stores aligned on the destination (a store
// that splits two cache lines costs twice); masked head and tail.
inline void copyLine(uint8_t* to, const uint8_t* from, size_t bytes) {
  size_t head = (64 - (reinterpret_cast<uintptr_t>(to) & 63)) & 63;
  if (head > bytes) head = bytes;
  if (head != 0) {
    const __mmask64 mask = (__mmask64{1} << head) - 1;
    _mm512_mask_storeu_epi8(to, mask, _mm512_maskz_loadu_epi8(mask, from));
  }
  size_t b = head;
  for (; b + 256 <= bytes; b += 256) {
    const __m512i a0 = load64(from + b), a1 = load64(from + b + 64);
    const __m512i a2 = load64(from + b + 128), a3 = load64(from + b + 192);
    _mm512_store_si512(to + b, a0);
    _mm512_store_si512(to + b + 64, a1);
    _mm512_store_si512(to + b + 128, a2);
    _mm512_store_si512(to + b + 192, a3);
  }
  for (; b + 64 <= bytes; b += 64) {
    _mm512_store_si512(to + b, load64(from + b));
  }
  if (b < bytes) {
    const __mmask64 mask = (__mmask64{1} << (bytes - b)) - 1;
    _mm512_mask_storeu_epi8(to + b, mask, _mm512_maskz_loadu_epi8(mask, from + b));
  }
}

// Short lines make a call to memcpy per line costly; the copy stays inline.
void copyLinesReversed(uint8_t* dst, size_t dstStride, const uint8_t* src, size_t srcStride, size_t lineBytes,
                       size_t lines) {
  for (size_t i = 0; i < lines; ++i) {
    copyLine(dst + i * dstStride, src + (lines - 1 - i) * srcStride, lineBytes);
  }
}

const RowConverters kAvx512{rgb565To24, rgb555To24, rgb32To24, copyLinesReversed};

}  // namespace

const RowConverters& avx512RowConverters() { return kAvx512; }

}  // namespace hmb
