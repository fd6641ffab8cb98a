// A DIB as a program hands it to StretchDIBits or SetDIBitsToDevice: header,
// colour table (RGB, or indices into the device context's palette) and the
// scan lines it carries, read as colours.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "gdi/dc_state.h"
#include "gdi/rgb_image.h"

namespace lx::win32::gdi {

class DibSource {
 public:
  // Checks the header and builds the colour lookup; false with
  // ERROR_INVALID_PARAMETER (bad header, usage or null bits) or
  // ERROR_NOT_SUPPORTED (a depth or compression not served). `bits` holds
  // scans firstScan to firstScan + scanCount - 1 (scan 0 is the first row in
  // memory).
  bool parse(const BITMAPINFO* info, const void* bits, UINT usage, const DcState& state, uint64_t firstScan,
             uint64_t scanCount);

  int width() const { return width_; }
  int height() const { return height_; }
  bool bottomUp() const { return bottomUp_; }

  // The source rectangle [left, left + width) x [top, top + height), top
  // counted in rows from the top, as colours; pixels outside the DIB or its
  // scans are kAbsent. False with ERROR_NOT_ENOUGH_MEMORY when too large.
  bool extract(int64_t left, int64_t top, int64_t width, int64_t height, RgbImage* image) const;

 private:
  const uint8_t* row(int64_t topDownRow) const;
  uint32_t pixel(const uint8_t* row, int64_t x) const;

  int width_ = 0;
  int height_ = 0;
  bool bottomUp_ = true;
  uint32_t bits_ = 0;
  uint64_t stride_ = 0;
  const uint8_t* data_ = nullptr;
  uint64_t firstScan_ = 0;
  uint64_t scanCount_ = 0;
  uint32_t masks_[3] = {0, 0, 0};  // 16 and 32 bits: red, green, blue
  std::vector<uint32_t> colours_;  // up to 8 bits: the table as 0x00RRGGBB
};

}  // namespace lx::win32::gdi
