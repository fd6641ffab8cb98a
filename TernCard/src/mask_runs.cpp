#include "mask_runs.h"

#include <algorithm>
#include <bit>
#include <cstring>

static_assert(std::endian::native == std::endian::little, "mask lines are read as little-endian words");

namespace terncard {

namespace {

// Appends `length` pixels of one value, merging with the run before.
uint32_t appendRun(uint16_t* runs, uint32_t count, bool visible, uint32_t length) {
  const uint16_t value = visible ? kRunVisible : 0;
  if (count > 0 && (runs[count - 1] & kRunVisible) == value) {
    runs[count - 1] = static_cast<uint16_t>(value | ((runs[count - 1] & kRunLengthMask) + length));
    return count;
  }
  runs[count] = static_cast<uint16_t>(value | length);
  return count + 1;
}

}  // namespace

uint32_t maskLineRuns(const uint8_t* maskLine, uint32_t width, uint16_t* runs) {
  if (width == 0) {
    return 0;
  }
  const uint32_t masked = maskLine != nullptr ? std::min(width, kMaskLinePixels) : 0;
  // Pixel x is bit x mod 8 of byte x / 8: bit x of the line read as little-endian words.
  uint64_t bits[kMaskLineBytes / 8];
  if (masked != 0) {
    std::memcpy(bits, maskLine, sizeof bits);
  }
  uint32_t count = 0;
  if (masked != 0) {
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
        runs[count++] = static_cast<uint16_t>((visible ? kRunVisible : 0) | (x - runStart));
        runStart = x;
        visible = !visible;
        change &= change - 1;
      }
    }
    runs[count++] = static_cast<uint16_t>((visible ? kRunVisible : 0) | (masked - runStart));
  }
  if (width > masked) {
    count = appendRun(runs, count, true, width - masked);
  }
  return count;
}

}  // namespace terncard
