// A line of a pixel mask as runs of equal pixels. The DMA program writes a
// run of visible pixels and skips a run of hidden ones.
#pragma once

#include <cstdint>

namespace terncard {

// A mask line: 24 little-endian 32-bit words, pixel x at bit x mod 32 of word x / 32.
inline constexpr uint32_t kMaskLinePixels = 768;
inline constexpr uint32_t kMaskLineBytes = 96;
inline constexpr uint32_t kMaskFieldLines = 288;

// Run: bit 15 the pixel value (1 visible), bits 0-14 the length.
inline constexpr uint16_t kRunVisible = 0x8000;
inline constexpr uint16_t kRunLengthMask = 0x7FFF;
// 768 alternating pixels, plus one run of the pixels beyond the mask.
inline constexpr uint32_t kMaxRunsPerLine = kMaskLinePixels + 1;

// Converts the first `width` pixels of a mask line into runs (pixel 0
// first); returns the number of runs. A null line, lines beyond the mask
// and pixels beyond 768 count as visible.
uint32_t maskLineRuns(const uint8_t* maskLine, uint32_t width, uint16_t* runs);

// The mask line of field line `line`, or null when the line lies beyond the mask.
inline const uint8_t* maskLineOf(const uint8_t* mask, uint32_t line) {
  return mask != nullptr && line < kMaskFieldLines ? mask + kMaskLineBytes * line : nullptr;
}

}  // namespace terncard
