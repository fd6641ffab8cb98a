// Window queries, repainting and timers, answered by the GUI bridge.
#include <windows.h>

#include "user/gui_bridge.h"

using lx::win32::user::guiBridge;

namespace {

// The bridge when window names one of its windows; else null with
// ERROR_INVALID_WINDOW_HANDLE.
const Win32GuiBridge* bridgeFor(HWND window) {
  const Win32GuiBridge* bridge = guiBridge();
  if (window == nullptr || bridge == nullptr || !bridge->isWindow(window)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  return bridge;
}

BOOL invalidWindow() {
  SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return FALSE;
}

}  // namespace

WIN32_API BOOL WINAPI IsWindow(HWND window) {
  const Win32GuiBridge* bridge = guiBridge();
  return window != nullptr && bridge != nullptr && bridge->isWindow(window);
}

WIN32_API BOOL WINAPI GetWindowRect(HWND window, LPRECT rect) {
  if (rect == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const Win32GuiBridge* bridge = bridgeFor(window);
  if (bridge == nullptr) return FALSE;
  return bridge->windowRect(window, rect) ? TRUE : invalidWindow();
}

WIN32_API BOOL WINAPI GetClientRect(HWND window, LPRECT rect) {
  if (rect == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const Win32GuiBridge* bridge = bridgeFor(window);
  if (bridge == nullptr) return FALSE;
  return bridge->clientRect(window, rect) ? TRUE : invalidWindow();
}

WIN32_API BOOL WINAPI ClientToScreen(HWND window, LPPOINT point) {
  if (point == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const Win32GuiBridge* bridge = bridgeFor(window);
  if (bridge == nullptr) return FALSE;
  POINT origin{};
  if (!bridge->clientOrigin(window, &origin)) return invalidWindow();
  point->x += origin.x;
  point->y += origin.y;
  return TRUE;
}

WIN32_API BOOL WINAPI IsWindowVisible(HWND window) {
  const Win32GuiBridge* bridge = guiBridge();
  return window != nullptr && bridge != nullptr && bridge->isVisible(window);
}

WIN32_API BOOL WINAPI RedrawWindow(HWND window, const RECT* rect, HRGN region, UINT flags) {
  if (region != nullptr) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  const Win32GuiBridge* bridge = window == nullptr ? guiBridge() : bridgeFor(window);
  if (bridge == nullptr) {
    return window == nullptr ? TRUE : FALSE;  // no windows: nothing on the screen to repaint
  }
  return bridge->redraw(window, rect, flags);
}

WIN32_API UINT_PTR WINAPI SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC procedure) {
  const Win32GuiBridge* bridge = bridgeFor(window);
  if (bridge == nullptr) return 0;
  if (bridge->windowThread(window) != GetCurrentThreadId()) {
    SetLastError(ERROR_ACCESS_DENIED);  // a window's timers belong to its own thread
    return 0;
  }
  return bridge->setTimer(window, id, elapse < 10 ? 10 : elapse, procedure);
}

WIN32_API BOOL WINAPI KillTimer(HWND window, UINT_PTR id) {
  const Win32GuiBridge* bridge = bridgeFor(window);
  if (bridge == nullptr) return FALSE;
  return bridge->killTimer(window, id);
}
