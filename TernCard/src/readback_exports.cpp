// Reading frames back: a frame of the static memory into an application
// buffer, and a rectangle of the screen through its device context.
#include <windows.h>

#include <array>
#include <cstring>

#include "card_handle.h"
#include "dma_program.h"
#include "lx/hmbseapi.h"
#include "lx/terncard_capture.h"

using namespace terncard;

namespace {

// A line of the rectangle is assembled here before it is stored.
constexpr size_t kLineBufferBytes = 2320;

}  // namespace

LX_EXPORT int32_t TernCardReadFromMem(uint64_t handle, const void* base, uint32_t size, uint16_t index,
                                      void* destination) {
  ValidatedContext context(handle);
  if (!context || base == nullptr || destination == nullptr) {
    return 0;
  }
  const uint32_t lines = context->outputHeight * (context->scanMode == 0 ? 2u : 1u);
  const uint64_t frameBytes = uint64_t{lineBytesOf(context.get())} * lines;
  const uint64_t offset = index * frameBytes;
  if (offset + frameBytes > size) {
    return 0;
  }
  const int32_t bytesPerPixel = context->bitsPerPixel / 8;
  HmbTransformMem(destination, static_cast<const uint8_t*>(base) + offset, context->outputWidth,
                  static_cast<int32_t>(lines), bytesPerPixel, context->pixelFormat, 1);
  return 1;
}

LX_EXPORT int32_t ReadDispWindow(HDC dc, int32_t x, int32_t y, int32_t width, int32_t height, void* destination) {
  if (destination == nullptr || width <= 0 || height <= 0) {
    return 1;
  }
  const int bitsPerPixel = GetDeviceCaps(dc, PLANES) * GetDeviceCaps(dc, BITSPIXEL);
  // Not a device context: its pixels would all read as CLR_INVALID (white),
  // which is no picture; nothing is written.
  if (bitsPerPixel <= 0) {
    return 0;
  }
  const bool grey = bitsPerPixel == 8;
  const size_t pixelBytes = grey ? 1 : 3;
  const size_t lineBytes = pixelBytes * static_cast<size_t>(width);
  // A line that does not fit the working buffer is refused rather than overrun it.
  if (lineBytes > kLineBufferBytes) {
    return 0;
  }
  std::array<uint8_t, kLineBufferBytes> line{};
  auto* out = static_cast<uint8_t*>(destination);
  for (int32_t row = 0; row < height; ++row) {
    for (int32_t column = 0; column < width; ++column) {
      const COLORREF colour = GetPixel(dc, x + column, y + row);
      uint8_t* pixel = line.data() + pixelBytes * static_cast<size_t>(column);
      if (grey) {
        pixel[0] = GetGValue(colour);
      } else {
        pixel[0] = GetBValue(colour);
        pixel[1] = GetGValue(colour);
        pixel[2] = GetRValue(colour);
      }
    }
    // The first line read becomes the last line stored.
    std::memcpy(out + lineBytes * static_cast<size_t>(height - 1 - row), line.data(), lineBytes);
  }
  return 1;
}
