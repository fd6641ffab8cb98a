#include "user/gui_bridge.h"

#include <atomic>
#include <new>

namespace lx::win32::user {
namespace {

// Tables are never freed: another thread may be inside a call through one
// while the program registers the next.
std::atomic<const Win32GuiBridge*> registered{nullptr};

}  // namespace

const Win32GuiBridge* guiBridge() { return registered.load(std::memory_order_acquire); }

}  // namespace lx::win32::user

WIN32_API BOOL WINAPI Win32RegisterGuiBridge(const Win32GuiBridge* bridge) {
  if (bridge == nullptr) {
    lx::win32::user::registered.store(nullptr, std::memory_order_release);
    return TRUE;
  }
  if (bridge->size != sizeof *bridge) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto* copy = new (std::nothrow) Win32GuiBridge(*bridge);
  if (copy == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  lx::win32::user::registered.store(copy, std::memory_order_release);
  return TRUE;
}
