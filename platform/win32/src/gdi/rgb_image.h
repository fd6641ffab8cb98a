// A picture in transit between a source (a DIB, a bitmap, the screen) and a
// device context: 0x00RRGGBB words, top-down. A word with kAbsent set stands
// for a pixel the source does not have (outside its bounds), which drawing
// leaves alone.
#pragma once

#include <cstdint>
#include <vector>

namespace lx::win32::gdi {

inline constexpr uint32_t kAbsent = 0x01000000;

struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;

  uint32_t* row(int y) { return pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(width); }
  const uint32_t* row(int y) const { return pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(width); }
};

// Images beyond this many pixels are refused rather than attempted.
inline constexpr uint64_t kMaxImagePixels = uint64_t{1} << 26;

}  // namespace lx::win32::gdi
