// Toolkit device contexts: a table of the devices behind their handles.
#include "gdi/device_dc.h"

#include <new>
#include <unordered_map>

#include "gdi/dc_state.h"
#include "gdi/gdi_objects.h"

namespace lx::win32::gdi {
namespace {

// Values: multiples of 4 in their own range, apart from the other DC kinds.
constexpr uintptr_t kFirstValue = 0x5E000000;
constexpr uintptr_t kValueCount = 0x00400000;

struct DeviceTable {
  std::unordered_map<uintptr_t, Win32DrawDevice> devices;
  uintptr_t next = 0;
};

DeviceTable& table() {
  static auto* instance = new DeviceTable;
  return *instance;
}

}  // namespace

bool isDeviceDc(HDC dc) { return table().devices.count(reinterpret_cast<uintptr_t>(dc)) != 0; }

bool findDeviceDc(HDC dc, Win32DrawDevice* device) {
  const auto it = table().devices.find(reinterpret_cast<uintptr_t>(dc));
  if (it == table().devices.end()) return false;
  *device = it->second;
  return true;
}

}  // namespace lx::win32::gdi

using namespace lx::win32::gdi;

WIN32_API HDC WINAPI Win32CreateDeviceDC(const Win32DrawDevice* device) {
  if (device == nullptr || device->size != sizeof *device || device->deviceCaps == nullptr ||
      device->drawImage == nullptr || device->fillRect == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::lock_guard hold(gdiMutex());
  DeviceTable& t = table();
  if (t.devices.size() >= kValueCount) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  uintptr_t value = 0;
  do {
    value = kFirstValue + 4 * (t.next++ % kValueCount);
  } while (t.devices.count(value) != 0);
  try {
    t.devices.emplace(value, *device);
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return reinterpret_cast<HDC>(value);
}

WIN32_API BOOL WINAPI Win32DeleteDeviceDC(HDC dc) {
  std::lock_guard hold(gdiMutex());
  if (table().devices.erase(reinterpret_cast<uintptr_t>(dc)) == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  forgetDcState(dc);
  return TRUE;
}
