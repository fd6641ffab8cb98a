// Internal: memory device contexts, bitmaps, brushes and palettes, and the
// process's table of their handles. Every function of the table runs under gdiMutex(), which the
// caller holds for as long as it uses an object it looked up.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <variant>
#include <vector>

namespace lx::win32::gdi {

// A bitmap of host memory in a screen format. Rows are top-down in memory at
// the DIB stride of its reported bit count.
struct Bitmap {
  HGDIOBJ handle = nullptr;
  int width = 0;
  int height = 0;
  uint32_t bits = 0;  // the screen's: 8, 15, 16, 24 or 32
  uint64_t stride = 0;
  std::vector<uint8_t> pixels;
  HDC selectedInto = nullptr;

  // 16 for 15-bit pixels, which GetDIBits delivers as 5-6-5.
  uint32_t reportedBits() const { return bits == 15 ? 16 : bits; }
  uint8_t* row(int y) { return pixels.data() + stride * static_cast<uint64_t>(y); }
};

struct MemoryDc {
  HDC handle = nullptr;
  std::shared_ptr<Bitmap> bitmap;  // null: the stock bitmap, nothing to draw on
};

struct Brush {
  uint32_t colour = 0;  // COLORREF
  bool hollow = false;  // the null brush: draws nothing
};

struct Palette {
  std::vector<PALETTEENTRY> entries;
  int selections = 0;  // device contexts it is selected into
};

using GdiObject = std::variant<std::shared_ptr<MemoryDc>, std::shared_ptr<Bitmap>, std::shared_ptr<Brush>,
                               std::shared_ptr<Palette>>;

// The bitmap every memory DC holds when it is made; DeleteObject keeps it.
inline HGDIOBJ const kStockBitmap = reinterpret_cast<HGDIOBJ>(static_cast<uintptr_t>(0x5C4EB000));
// Stock brushes are kStockBrushes + 4 * index, DEFAULT_PALETTE kStockPalette.
inline constexpr uintptr_t kStockBrushes = 0x5C4EB010;
inline constexpr int kStockBrushCount = NULL_BRUSH + 1;
inline HGDIOBJ const kStockPalette = reinterpret_cast<HGDIOBJ>(static_cast<uintptr_t>(0x5C4EB040));

bool isStockObject(HGDIOBJ object);

std::mutex& gdiMutex();
// Null with ERROR_INVALID_HANDLE for a value that is not an object of the kind.
std::shared_ptr<MemoryDc> findDc(HDC dc);
std::shared_ptr<Bitmap> findBitmap(HGDIOBJ object);
// Stock brushes and DEFAULT_PALETTE included.
std::shared_ptr<Brush> findBrush(HGDIOBJ object);
std::shared_ptr<Palette> findPalette(HGDIOBJ object);
// A new handle value for the object, 0 when the table is full; and removal.
uintptr_t insertObject(GdiObject object);
void eraseObject(HGDIOBJ object);

}  // namespace lx::win32::gdi
