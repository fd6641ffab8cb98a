#include "gdi/dib_source.h"

#include <cstring>
#include <new>

#include "gdi/pixel_format.h"

namespace lx::win32::gdi {
namespace {

bool invalid() {
  SetLastError(ERROR_INVALID_PARAMETER);
  return false;
}

}  // namespace

bool DibSource::parse(const BITMAPINFO* info, const void* bits, UINT usage, const DcState& state, uint64_t firstScan,
                      uint64_t scanCount) {
  if (info == nullptr || bits == nullptr || (usage != DIB_RGB_COLORS && usage != DIB_PAL_COLORS)) return invalid();
  const BITMAPINFOHEADER& h = info->bmiHeader;
  if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == INT32_MIN ||
      h.biPlanes != 1) {
    return invalid();
  }
  const uint32_t depth = h.biBitCount;
  const bool indexed = depth == 1 || depth == 4 || depth == 8;
  if (!indexed && depth != 16 && depth != 24 && depth != 32) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
  }
  const bool bitfields = h.biCompression == BI_BITFIELDS && (depth == 16 || depth == 32);
  if (h.biCompression != BI_RGB && !bitfields) {
    SetLastError(ERROR_NOT_SUPPORTED);  // run-length and other compressions
    return false;
  }
  if (usage == DIB_PAL_COLORS && !indexed) return invalid();

  width_ = h.biWidth;
  height_ = h.biHeight > 0 ? h.biHeight : -h.biHeight;
  bottomUp_ = h.biHeight > 0;
  bits_ = depth;
  stride_ = ((uint64_t{static_cast<uint32_t>(width_)} * depth + 31) / 32) * 4;
  data_ = static_cast<const uint8_t*>(bits);
  firstScan_ = firstScan;
  scanCount_ = scanCount;

  // Masks and colour table follow the 40 header bytes (inside a larger
  // header, the masks are its own next fields at the same place).
  const auto* after = reinterpret_cast<const uint8_t*>(info) + sizeof(BITMAPINFOHEADER);
  if (bitfields) {
    std::memcpy(masks_, after, sizeof masks_);
    if (masks_[0] == 0 && masks_[1] == 0 && masks_[2] == 0) return invalid();
  } else if (depth == 16) {
    const PixelFormat f = formatOfBits(15);
    masks_[0] = f.redMask, masks_[1] = f.greenMask, masks_[2] = f.blueMask;
  } else if (depth == 32) {
    masks_[0] = 0xFF0000, masks_[1] = 0x00FF00, masks_[2] = 0x0000FF;
  }
  colours_.clear();
  if (indexed) {
    const uint32_t most = 1u << depth;
    const uint32_t count = h.biClrUsed != 0 ? h.biClrUsed : most;
    if (count > most) return invalid();
    const auto* table = reinterpret_cast<const uint8_t*>(info) + h.biSize;
    const std::shared_ptr<Palette> palette = state.palette != nullptr ? state.palette : findPalette(kStockPalette);
    try {
      colours_.assign(most, 0);  // indices past the table read black
    } catch (const std::bad_alloc&) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
      if (usage == DIB_RGB_COLORS) {
        const uint8_t* quad = table + 4 * i;  // blue, green, red, reserved
        colours_[i] = (uint32_t{quad[2]} << 16) | (uint32_t{quad[1]} << 8) | quad[0];
      } else {
        uint16_t index = 0;
        std::memcpy(&index, table + 2 * i, sizeof index);
        const std::vector<PALETTEENTRY>& entries = palette->entries;
        if (index < entries.size()) {
          const PALETTEENTRY& e = entries[index];
          colours_[i] = (uint32_t{e.peRed} << 16) | (uint32_t{e.peGreen} << 8) | e.peBlue;
        }
      }
    }
  }
  return true;
}

const uint8_t* DibSource::row(int64_t topDownRow) const {
  if (topDownRow < 0 || topDownRow >= height_) return nullptr;
  const uint64_t scan = static_cast<uint64_t>(bottomUp_ ? height_ - 1 - topDownRow : topDownRow);
  if (scan < firstScan_ || scan - firstScan_ >= scanCount_) return nullptr;
  return data_ + (scan - firstScan_) * stride_;
}

uint32_t DibSource::pixel(const uint8_t* row, int64_t x) const {
  switch (bits_) {
    case 1: return colours_[(row[x / 8] >> (7 - x % 8)) & 1];
    case 4: return colours_[(row[x / 2] >> (x % 2 == 0 ? 4 : 0)) & 0xF];
    case 8: return colours_[row[x]];
    case 24: return (uint32_t{row[3 * x + 2]} << 16) | (uint32_t{row[3 * x + 1]} << 8) | row[3 * x];
    default: {
      const uint32_t value = loadPixel(row + x * (bits_ / 8), bits_ / 8);
      return decodePixel(PixelFormat{bits_ == 16 ? 16u : 32u, masks_[0], masks_[1], masks_[2]}, value);
    }
  }
}

bool DibSource::extract(int64_t left, int64_t top, int64_t width, int64_t height, RgbImage* image) const {
  if (width <= 0 || height <= 0 || static_cast<uint64_t>(width) * static_cast<uint64_t>(height) > kMaxImagePixels) {
    SetLastError(width <= 0 || height <= 0 ? ERROR_INVALID_PARAMETER : ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  try {
    image->width = static_cast<int>(width);
    image->height = static_cast<int>(height);
    image->pixels.assign(static_cast<size_t>(width * height), kAbsent);
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  for (int64_t y = 0; y < height; ++y) {
    const uint8_t* from = row(top + y);
    if (from == nullptr) continue;
    uint32_t* to = image->row(static_cast<int>(y));
    for (int64_t x = 0; x < width; ++x) {
      const int64_t sx = left + x;
      if (sx >= 0 && sx < width_) to[x] = pixel(from, sx);
    }
  }
  return true;
}

}  // namespace lx::win32::gdi
