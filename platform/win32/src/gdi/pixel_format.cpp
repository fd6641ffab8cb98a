#include "gdi/pixel_format.h"

#include <bit>

namespace lx::win32::gdi {
namespace {

uint32_t placeChannel(uint32_t value8, uint32_t mask) {
  if (mask == 0) return 0;
  const int width = std::popcount(mask);
  const uint32_t value = width >= 8 ? value8 << (width - 8) : value8 >> (8 - width);
  return (value << std::countr_zero(mask)) & mask;
}

// A channel widened to 8 bits by repeating its high bits, so full scale
// stays full scale (5-bit 31 is 255).
uint32_t takeChannel(uint32_t pixel, uint32_t mask) {
  if (mask == 0) return 0;
  const int width = std::popcount(mask);
  const uint32_t value = (pixel & mask) >> std::countr_zero(mask);
  if (width >= 8) return value >> (width - 8);
  uint32_t wide = 0;
  for (int filled = 0; filled < 8; filled += width) wide = (wide << width) | value;
  const int total = ((8 + width - 1) / width) * width;
  return (wide >> (total - 8)) & 0xFF;
}

}  // namespace

PixelFormat formatOfBits(uint32_t bits) {
  switch (bits) {
    case 15: return {15, 0x7C00, 0x03E0, 0x001F};
    case 16: return {16, 0xF800, 0x07E0, 0x001F};
    case 24:
    case 32: return {bits, 0xFF0000, 0x00FF00, 0x0000FF};
    default: return {bits, 0, 0, 0};
  }
}

PixelFormat formatOf(const lxm::wire::DisplayModeRecord& mode) {
  if (mode.bits == 8 || (mode.redMask | mode.greenMask | mode.blueMask) == 0) return formatOfBits(mode.bits);
  return {mode.bits, mode.redMask, mode.greenMask, mode.blueMask};
}

uint32_t encodePixel(const PixelFormat& format, uint32_t rgb) {
  const uint32_t r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
  if (format.bits == 8) {
    return (r * 77 + g * 150 + b * 29 + 128) >> 8;  // the grey the ramp shows for the colour
  }
  return placeChannel(r, format.redMask) | placeChannel(g, format.greenMask) | placeChannel(b, format.blueMask);
}

uint32_t decodePixel(const PixelFormat& format, uint32_t pixel) {
  if (format.bits == 8) {
    const uint32_t v = pixel & 0xFF;
    return (v << 16) | (v << 8) | v;
  }
  return (takeChannel(pixel, format.redMask) << 16) | (takeChannel(pixel, format.greenMask) << 8) |
         takeChannel(pixel, format.blueMask);
}

}  // namespace lx::win32::gdi
