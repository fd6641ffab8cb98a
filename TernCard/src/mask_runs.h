// A line of a pixel mask as runs of equal pixels. The DMA program writes a
// run of visible pixels and skips a run of hidden ones.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

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

static_assert(std::endian::native == std::endian::little, "mask lines are read as little-endian words");

// Calls visit(run, first, last) for each run of the first `width` pixels of
// a mask line, pixel 0 first; `first` and `last` mark the line's first and
// last run. A null line, lines beyond the mask and pixels beyond 768 count
// as visible. The runs come out one behind the scan, so the last one is
// known when it is handed over; nothing is stored in between.
template <typename Visit>
inline void forEachMaskRun(const uint8_t* maskLine, uint32_t width, Visit&& visit) {
  if (width == 0) {
    return;
  }
  const uint32_t masked = maskLine != nullptr ? std::min(width, kMaskLinePixels) : 0;
  uint16_t pending = 0;
  bool havePending = false;
  bool first = true;
  auto push = [&](uint16_t run) {
    if (havePending) {
      visit(pending, first, false);
      first = false;
    }
    pending = run;
    havePending = true;
  };
  if (masked != 0) {
    // Pixel x is bit x of the line read as little-endian words.
    uint64_t bits[kMaskLineBytes / 8];
    std::memcpy(bits, maskLine, sizeof bits);
    // Bit i of `change` marks pixel i differing from pixel i - 1: each is
    // the start of a run.
    bool visible = (bits[0] & 1) != 0;
    uint32_t runStart = 0;
    uint64_t carry = bits[0] & 1;
    for (uint32_t word = 0; word * 64 < masked; ++word) {
      const uint64_t current = bits[word];
      uint64_t change = current ^ ((current << 1) | carry);
      carry = current >> 63;
      const uint32_t valid = masked - word * 64;
      if (valid < 64) {
        change &= (uint64_t{1} << valid) - 1;
      }
      while (change != 0) {
        const uint32_t x = word * 64 + static_cast<uint32_t>(std::countr_zero(change));
        push(static_cast<uint16_t>((visible ? kRunVisible : 0) | (x - runStart)));
        runStart = x;
        visible = !visible;
        change &= change - 1;
      }
    }
    push(static_cast<uint16_t>((visible ? kRunVisible : 0) | (masked - runStart)));
  }
  if (width > masked) {
    if (havePending && (pending & kRunVisible) != 0) {
      pending = static_cast<uint16_t>(kRunVisible | ((pending & kRunLengthMask) + (width - masked)));
    } else {
      push(static_cast<uint16_t>(kRunVisible | (width - masked)));
    }
  }
  visit(pending, first, true);
}

// The runs of a mask line (forEachMaskRun) stored at `runs`, which holds
// kMaxRunsPerLine; returns their number.
uint32_t maskLineRuns(const uint8_t* maskLine, uint32_t width, uint16_t* runs);

// The mask line of field line `line`, or null when the line lies beyond the mask.
inline const uint8_t* maskLineOf(const uint8_t* mask, uint32_t line) {
  return mask != nullptr && line < kMaskFieldLines ? mask + kMaskLineBytes * line : nullptr;
}

}  // namespace terncard
