// Setting the overlay mask bits of the rectangles of a clip list.
#pragma once

#include <windows.h>

#include <cstdint>

namespace lxvidex {

struct MaskLayout {
  uint8_t* field0;     // first field half (LX_MASK_FIELD_BYTES)
  uint8_t* field1;     // second field half
  int32_t bitOrder;    // 0: pixel x is bit x % 8; 1: bit 7 - x % 8
  int32_t scanMode;    // 0 frame (rows alternate between the halves), 1 and 2 one field
};

// Sets the bits of the pixels left..right-1 on rows top..bottom-1 (relative
// to the output window's origin), so that they show video. Parts outside the
// mask (768 pixels wide, 288 lines a field) are left out.
void setRectangleBits(const MaskLayout& mask, const RECT& rect);

}  // namespace lxvidex
