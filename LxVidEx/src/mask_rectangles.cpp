#include "mask_rectangles.h"

#include <algorithm>

#include "lx/video_types.h"

namespace lxvidex {
namespace {

constexpr int32_t kMaskPixels = static_cast<int32_t>(LX_MASK_LINE_BYTES * 8);
constexpr int32_t kFieldLines = static_cast<int32_t>(LX_MASK_FIELD_LINES);

// The mask line of output row y, or null past the mask.
uint8_t* lineOf(const MaskLayout& mask, int32_t y) {
  int32_t line = y;
  uint8_t* half = mask.field0;
  if (mask.scanMode == 0) {
    line = y / 2;
    half = (y % 2 == 0) ? mask.field0 : mask.field1;
  } else if (mask.scanMode == 2) {
    half = mask.field1;
  }
  return line < kFieldLines ? half + line * static_cast<int32_t>(LX_MASK_LINE_BYTES) : nullptr;
}

uint8_t bitOf(const MaskLayout& mask, int32_t x) {
  const int32_t position = mask.bitOrder == 0 ? x % 8 : 7 - x % 8;
  return static_cast<uint8_t>(1u << position);
}

}  // namespace

void setRectangleBits(const MaskLayout& mask, const RECT& rect) {
  const int32_t left = std::max<int32_t>(rect.left, 0);
  const int32_t right = std::min<int32_t>(rect.right, kMaskPixels);
  const int32_t top = std::max<int32_t>(rect.top, 0);
  if (left >= right) return;
  for (int32_t y = top; y < rect.bottom; ++y) {
    uint8_t* line = lineOf(mask, y);
    if (line == nullptr) return;
    // Whole bytes at once; the partial bytes at either end bit by bit.
    int32_t x = left;
    for (; x < right && x % 8 != 0; ++x) line[x / 8] |= bitOf(mask, x);
    for (; x + 8 <= right; x += 8) line[x / 8] = 0xFF;
    for (; x < right; ++x) line[x / 8] |= bitOf(mask, x);
  }
}

}  // namespace lxvidex
