#include "gdi/window_dc.h"

#include <cstdint>
#include <mutex>
#include <unordered_map>

#include "gdi/screen_view.h"

namespace lx::win32::gdi {
namespace {

// Window DC values: multiples of 4 in their own range, apart from the screen
// DC, GDI objects and kernel handles.
constexpr uintptr_t kFirstValue = 0x5D000000;
constexpr uintptr_t kValueCount = 0x00400000;

struct WindowDcTable {
  std::mutex mutex;
  std::unordered_map<uintptr_t, HWND> windows;
  uintptr_t next = 0;
};

WindowDcTable& table() {
  static auto* instance = new WindowDcTable;
  return *instance;
}

}  // namespace

HDC openWindowDc(HWND window) {
  if (!IsWindow(window)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  WindowDcTable& t = table();
  std::lock_guard hold(t.mutex);
  uintptr_t value = 0;
  do {
    value = kFirstValue + 4 * (t.next++ % kValueCount);
  } while (t.windows.count(value) != 0);
  t.windows.emplace(value, window);
  return reinterpret_cast<HDC>(value);
}

bool closeWindowDc(HWND window, HDC dc) {
  WindowDcTable& t = table();
  std::lock_guard hold(t.mutex);
  auto it = t.windows.find(reinterpret_cast<uintptr_t>(dc));
  if (it == t.windows.end() || (window != nullptr && it->second != window)) return false;
  t.windows.erase(it);
  return true;
}

bool isDisplayDc(HDC dc) {
  if (dc == kScreenDc) return true;
  WindowDcTable& t = table();
  std::lock_guard hold(t.mutex);
  return t.windows.count(reinterpret_cast<uintptr_t>(dc)) != 0;
}

HWND windowOfDc(HDC dc) {
  WindowDcTable& t = table();
  std::lock_guard hold(t.mutex);
  auto it = t.windows.find(reinterpret_cast<uintptr_t>(dc));
  return it == t.windows.end() ? nullptr : it->second;
}

bool displayArea(HDC dc, DisplayArea* area) {
  *area = DisplayArea{};
  if (dc == kScreenDc) return true;
  HWND window = nullptr;
  {
    WindowDcTable& t = table();
    std::lock_guard hold(t.mutex);
    auto it = t.windows.find(reinterpret_cast<uintptr_t>(dc));
    if (it == t.windows.end()) return false;
    window = it->second;
  }
  RECT client{};
  POINT origin{0, 0};
  if (!GetClientRect(window, &client) || !ClientToScreen(window, &origin)) return false;
  area->originX = origin.x;
  area->originY = origin.y;
  area->width = client.right;
  area->height = client.bottom;
  return true;
}

}  // namespace lx::win32::gdi
