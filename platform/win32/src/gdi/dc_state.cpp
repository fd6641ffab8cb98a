#include "gdi/dc_state.h"

#include <unordered_map>

#include "gdi/device_dc.h"
#include "gdi/window_dc.h"

namespace lx::win32::gdi {
namespace {

std::unordered_map<uintptr_t, DcState>& states() {
  static auto* all = new std::unordered_map<uintptr_t, DcState>;
  return *all;
}

}  // namespace

bool isDeviceContext(HDC dc) {
  if (isDisplayDc(dc) || isDeviceDc(dc)) return true;
  return findDc(dc) != nullptr;  // sets ERROR_INVALID_HANDLE
}

DcState& dcState(HDC dc) { return states()[reinterpret_cast<uintptr_t>(dc)]; }

void forgetDcState(HDC dc) {
  const auto it = states().find(reinterpret_cast<uintptr_t>(dc));
  if (it == states().end()) return;
  if (it->second.palette != nullptr) --it->second.palette->selections;
  states().erase(it);
}

}  // namespace lx::win32::gdi
