// Memory device contexts and compatible bitmaps: creation, selection and
// deletion. Handle values are multiples of 4 between 0x20000000 and
// 0x30000000, apart from the screen DC's and kernel-object values.
#include <windows.h>

#include <map>
#include <new>
#include <type_traits>
#include <variant>

#include "gdi/dc_state.h"
#include "gdi/gdi_objects.h"
#include "gdi/screen_view.h"
#include "gdi/window_dc.h"

namespace lx::win32::gdi {
namespace {

using Object = GdiObject;

constexpr uintptr_t kFirstValue = 0x20000000;
constexpr uintptr_t kValueCount = 0x10000000 / 4;
// Bitmaps beyond this many bytes are refused rather than attempted.
constexpr uint64_t kMaxBitmapBytes = uint64_t{1} << 31;

struct Table {
  std::map<uintptr_t, Object> objects;
  uintptr_t next = 0;
};

Table& table() {
  static Table t;
  return t;
}

template <typename T>
std::shared_ptr<T> find(HGDIOBJ object) {
  const auto it = table().objects.find(reinterpret_cast<uintptr_t>(object));
  if (it == table().objects.end() || !std::holds_alternative<std::shared_ptr<T>>(it->second)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return std::get<std::shared_ptr<T>>(it->second);
}

// The 20 static colours of the default palette.
std::shared_ptr<Palette> makeDefaultPalette() {
  static const PALETTEENTRY colours[20] = {
      {0, 0, 0, 0},       {128, 0, 0, 0},     {0, 128, 0, 0},     {128, 128, 0, 0},   {0, 0, 128, 0},
      {128, 0, 128, 0},   {0, 128, 128, 0},   {192, 192, 192, 0}, {192, 220, 192, 0}, {166, 202, 240, 0},
      {255, 251, 240, 0}, {160, 160, 164, 0}, {128, 128, 128, 0}, {255, 0, 0, 0},     {0, 255, 0, 0},
      {255, 255, 0, 0},   {0, 0, 255, 0},     {255, 0, 255, 0},   {0, 255, 255, 0},   {255, 255, 255, 0}};
  auto palette = std::make_shared<Palette>();
  palette->entries.assign(std::begin(colours), std::end(colours));
  return palette;
}

}  // namespace

// A free handle value for the object; 0 when the table is full.
uintptr_t insertObject(Object object) {
  Table& t = table();
  if (t.objects.size() >= kValueCount) {
    return 0;
  }
  uintptr_t value = 0;
  do {
    value = kFirstValue + 4 * (t.next++ % kValueCount);
  } while (t.objects.count(value) != 0);
  t.objects.emplace(value, std::move(object));
  return value;
}

void eraseObject(HGDIOBJ object) { table().objects.erase(reinterpret_cast<uintptr_t>(object)); }

bool isStockObject(HGDIOBJ object) {
  const auto value = reinterpret_cast<uintptr_t>(object);
  return object == kStockBitmap || object == kStockPalette ||
         (value >= kStockBrushes && value < kStockBrushes + 4 * kStockBrushCount && value % 4 == 0);
}

namespace {

// The pixel format a new bitmap compatible with `dc` takes; 0 when none.
uint32_t compatibleBits(HDC dc) {
  if (isDisplayDc(dc)) {
    uint32_t bits = 0;
    withScreenPixels([&](const lxm::wire::DisplayModeRecord& mode, const uint8_t*) { bits = mode.bits; });
    if (bits == 0) {
      SetLastError(ERROR_DEVICE_NOT_CONNECTED);
    }
    return bits;
  }
  const std::shared_ptr<MemoryDc> memory = findDc(dc);
  if (memory == nullptr) {
    return 0;
  }
  if (memory->bitmap == nullptr) {
    SetLastError(ERROR_NOT_SUPPORTED);  // a monochrome stock bitmap: not served
    return 0;
  }
  return memory->bitmap->bits;
}

}  // namespace

std::mutex& gdiMutex() {
  static std::mutex mutex;
  return mutex;
}

std::shared_ptr<MemoryDc> findDc(HDC dc) { return find<MemoryDc>(dc); }

std::shared_ptr<Bitmap> findBitmap(HGDIOBJ object) { return find<Bitmap>(object); }

std::shared_ptr<Brush> findBrush(HGDIOBJ object) {
  static const auto stock = [] {
    std::vector<std::shared_ptr<Brush>> brushes;
    for (const uint32_t grey : {0xFFu, 0xC0u, 0x80u, 0x40u, 0x00u}) {
      brushes.push_back(std::make_shared<Brush>(Brush{grey * 0x010101u, false}));
    }
    brushes.push_back(std::make_shared<Brush>(Brush{0, true}));
    return brushes;
  }();
  const auto value = reinterpret_cast<uintptr_t>(object);
  if (value >= kStockBrushes && value < kStockBrushes + 4 * kStockBrushCount && value % 4 == 0) {
    return stock[(value - kStockBrushes) / 4];
  }
  return find<Brush>(object);
}

std::shared_ptr<Palette> findPalette(HGDIOBJ object) {
  static const std::shared_ptr<Palette> defaultPalette = makeDefaultPalette();
  if (object == kStockPalette) return defaultPalette;
  return find<Palette>(object);
}

}  // namespace lx::win32::gdi

using namespace lx::win32::gdi;

WIN32_API HDC WINAPI CreateCompatibleDC(HDC dc) {
  std::lock_guard hold(gdiMutex());
  if (dc != nullptr && !isDisplayDc(dc) && findDc(dc) == nullptr) {
    return nullptr;
  }
  try {
    auto memory = std::make_shared<MemoryDc>();
    const uintptr_t value = insertObject(memory);
    if (value == 0) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    memory->handle = reinterpret_cast<HDC>(value);
    return memory->handle;
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
}

WIN32_API HBITMAP WINAPI CreateCompatibleBitmap(HDC dc, int width, int height) {
  std::lock_guard hold(gdiMutex());
  const uint32_t bits = compatibleBits(dc);
  if (bits == 0) {
    return nullptr;
  }
  if (width <= 0 || height <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const uint32_t rowBits = bits == 15 ? 16 : bits;
  const uint64_t stride = ((uint64_t{static_cast<uint32_t>(width)} * rowBits + 31) / 32) * 4;
  const uint64_t bytes = stride * static_cast<uint32_t>(height);  // below 2^33 * 2^31
  if (bytes > kMaxBitmapBytes) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  try {
    auto bitmap = std::make_shared<Bitmap>();
    bitmap->width = width;
    bitmap->height = height;
    bitmap->bits = bits;
    bitmap->stride = stride;
    bitmap->pixels.assign(bytes, 0);
    const uintptr_t value = insertObject(bitmap);
    if (value == 0) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    bitmap->handle = reinterpret_cast<HGDIOBJ>(value);
    return static_cast<HBITMAP>(bitmap->handle);
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
}

WIN32_API HGDIOBJ WINAPI SelectObject(HDC dc, HGDIOBJ object) {
  std::lock_guard hold(gdiMutex());
  const std::shared_ptr<MemoryDc> memory = findDc(dc);
  if (memory == nullptr) {
    return nullptr;
  }
  std::shared_ptr<Bitmap> bitmap;
  if (object != kStockBitmap) {
    bitmap = findBitmap(object);
    if (bitmap == nullptr) {
      return nullptr;
    }
    if (bitmap->selectedInto != nullptr && bitmap->selectedInto != dc) {
      SetLastError(ERROR_INVALID_PARAMETER);  // a bitmap lives in one DC at a time
      return nullptr;
    }
  }
  const HGDIOBJ previous = memory->bitmap != nullptr ? memory->bitmap->handle : kStockBitmap;
  if (memory->bitmap != nullptr) {
    memory->bitmap->selectedInto = nullptr;
  }
  memory->bitmap = bitmap;
  if (bitmap != nullptr) {
    bitmap->selectedInto = dc;
  }
  return previous;
}

WIN32_API BOOL WINAPI DeleteDC(HDC dc) {
  std::lock_guard hold(gdiMutex());
  const std::shared_ptr<MemoryDc> memory = findDc(dc);
  if (memory == nullptr) {
    return FALSE;
  }
  if (memory->bitmap != nullptr) {
    memory->bitmap->selectedInto = nullptr;
  }
  forgetDcState(dc);
  table().objects.erase(reinterpret_cast<uintptr_t>(dc));
  return TRUE;
}

WIN32_API BOOL WINAPI DeleteObject(HGDIOBJ object) {
  std::lock_guard hold(gdiMutex());
  if (isStockObject(object)) {
    return TRUE;
  }
  const auto it = table().objects.find(reinterpret_cast<uintptr_t>(object));
  if (it == table().objects.end() || std::holds_alternative<std::shared_ptr<MemoryDc>>(it->second)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  // An object in use by a device context stays.
  const bool selected = std::visit(
      [](const auto& held) {
        using Held = std::decay_t<decltype(*held)>;
        if constexpr (std::is_same_v<Held, Bitmap>) return held->selectedInto != nullptr;
        if constexpr (std::is_same_v<Held, Palette>) return held->selections != 0;
        return false;
      },
      it->second);
  if (selected) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  table().objects.erase(it);
  return TRUE;
}
