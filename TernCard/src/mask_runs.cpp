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

// The first pixel at or after x (below `end`) whose value differs from `visible`.
uint32_t runEnd(const uint64_t* bits, uint32_t x, uint32_t end, bool visible) {
  while (x < end) {
    const uint64_t chunk = visible ? ~bits[x / 64] : bits[x / 64];
    const uint64_t ahead = chunk >> (x % 64);
    if (ahead != 0) {
      return std::min(end, x + static_cast<uint32_t>(std::countr_zero(ahead)));
    }
    x = (x / 64 + 1) * 64;
  }
  return end;
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
  uint32_t x = 0;
  while (x < masked) {
    const bool visible = ((bits[x / 64] >> (x % 64)) & 1) != 0;
    const uint32_t end = runEnd(bits, x, masked, visible);
    count = appendRun(runs, count, visible, end - x);
    x = end;
  }
  if (width > masked) {
    count = appendRun(runs, count, true, width - masked);
  }
  return count;
}

}  // namespace terncard
