// The line transform behind HmbTransformMem: copies `lines` packed lines of
// `width` pixels, converting 16-bit (when rgb16Layout is nonzero) and 32-bit
// pixels to 24-bit and reversing the line order when flipVertical is nonzero.
#pragma once

#include <cstdint>

namespace hmb {

// rgb16Layout: 0 keeps 16-bit pixels, 2 reads them as 5-6-5, any other value
// as 5-5-5. An unknown bytesPerPixel, or a width or line count of 0 or less,
// writes nothing. Always returns 1.
int32_t transformMem(void* dst, const void* src, int32_t width, int32_t lines, int32_t bytesPerPixel,
                     int32_t rgb16Layout, int32_t flipVertical);

}  // namespace hmb
