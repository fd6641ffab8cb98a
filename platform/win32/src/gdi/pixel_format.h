// Pixels of the screen's formats as colours and back. A colour here is
// 0x00RRGGBB; an 8-bit screen is a fixed grey ramp.
#pragma once

#include <cstdint>
#include <cstring>

#include "lxmachine/wire.h"

namespace lx::win32::gdi {

struct PixelFormat {
  uint32_t bits = 0;  // 8, 15, 16, 24 or 32
  uint32_t redMask = 0;
  uint32_t greenMask = 0;
  uint32_t blueMask = 0;

  uint32_t bytes() const { return (bits + 7) / 8; }
};

// The channel masks the display adapter gives each depth.
PixelFormat formatOfBits(uint32_t bits);
// A mode's own masks, or the depth's where the mode gives none.
PixelFormat formatOf(const lxm::wire::DisplayModeRecord& mode);

uint32_t encodePixel(const PixelFormat& format, uint32_t rgb);
uint32_t decodePixel(const PixelFormat& format, uint32_t pixel);

inline void storePixel(uint8_t* at, uint32_t bytes, uint32_t pixel) { std::memcpy(at, &pixel, bytes); }
inline uint32_t loadPixel(const uint8_t* at, uint32_t bytes) {
  uint32_t pixel = 0;
  std::memcpy(&pixel, at, bytes);
  return pixel;
}

// 0x00BBGGRR (COLORREF) as 0x00RRGGBB and back.
inline uint32_t rgbOfColorref(uint32_t colour) {
  return ((colour & 0xFF) << 16) | (colour & 0xFF00) | ((colour >> 16) & 0xFF);
}

}  // namespace lx::win32::gdi
