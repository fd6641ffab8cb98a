// LxGetDisplayBits: a rectangle of a device context through a memory DC and
// GetDIBits, converted by LxDataTransform.
#include <cstring>
#include <new>
#include <vector>

#include "lx/data_transform.h"
#include "pixel_rows.h"

namespace {

// Room for the header and a full colour table.
struct BitmapInfo256 {
  BITMAPINFOHEADER header;
  RGBQUAD colours[256];
};

// Frees what the read-back made on every path.
struct GdiObjects {
  HDC memory = nullptr;
  HBITMAP bitmap = nullptr;
  ~GdiObjects() {
    if (memory != nullptr) DeleteDC(memory);
    if (bitmap != nullptr) DeleteObject(bitmap);
  }
};

}  // namespace

LX_EXPORT LxStatus LxGetDisplayBits(HDC dc, int32_t x, int32_t y, int32_t width, int32_t height, int32_t* bits,
                                    void* destination) {
  if (bits == nullptr || destination == nullptr || width <= 0 || height <= 0) {
    return LX_PARAMETER_INVALID;
  }
  try {
    GdiObjects objects;
    objects.memory = CreateCompatibleDC(dc);
    objects.bitmap = CreateCompatibleBitmap(dc, width, height);
    if (objects.memory == nullptr || objects.bitmap == nullptr) {
      return LX_NOT_ENOUGH_SYSTEM_MEMORY;
    }
    const HGDIOBJ old = SelectObject(objects.memory, objects.bitmap);
    BitBlt(objects.memory, 0, 0, width, height, dc, x, y, SRCCOPY);
    SelectObject(objects.memory, old);

    BitmapInfo256 info{};
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    auto* asInfo = reinterpret_cast<BITMAPINFO*>(&info);
    if (GetDIBits(objects.memory, objects.bitmap, 0, static_cast<UINT>(height), nullptr, asInfo, DIB_RGB_COLORS) ==
        0) {
      return LX_NOT_ENOUGH_SYSTEM_MEMORY;
    }
    const int32_t format = info.header.biBitCount;
    const uint64_t bytes = lxvidex::imageBytes(lxvidex::rowStride(static_cast<uint64_t>(width), format),
                                               static_cast<uint64_t>(height));
    std::vector<uint8_t> rows(bytes);
    if (GetDIBits(objects.memory, objects.bitmap, 0, static_cast<UINT>(height), rows.data(), asInfo,
                  DIB_RGB_COLORS) == 0) {
      return LX_NOT_ENOUGH_SYSTEM_MEMORY;
    }
    const LxStatus status = LxDataTransform(destination, rows.data(), width, height, format, 0);
    if (status == LX_OK) {
      *bits = format == 8 ? 8 : 24;
    }
    return status;
  } catch (const std::bad_alloc&) {
    return LX_NOT_ENOUGH_SYSTEM_MEMORY;
  }
}
