// The line transform; the one export that does not talk to the driver.
#include "lx/hmbseapi.h"
#include "transform/transform_mem.h"

LX_EXPORT int32_t HmbTransformMem(void* dst, const void* src, int32_t width, int32_t lines, int32_t bytesPerPixel,
                                  int32_t rgb16Layout, int32_t flipVertical) {
  return hmb::transformMem(dst, src, width, lines, bytesPerPixel, rgb16Layout, flipVertical);
}
