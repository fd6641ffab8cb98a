// Writing a frame of blue, green, red pixels as a 24-bit bitmap file.
#pragma once

#include <cstdint>
#include <string>

namespace lxsnap {

// `pixels`: `height` lines of `width` pixels (3 bytes each, no gaps), top line
// first. False when the file cannot be written.
bool writeBitmap24(const std::string& path, const uint8_t* pixels, uint32_t width, uint32_t height);

}  // namespace lxsnap
