#include "service_device.h"

#include <atomic>
#include <cstdint>

#include <windows.h>

namespace hmb {
namespace {

constexpr char kServiceDevicePath[] = "\\\\.\\HMBSERV";

// The handle's value, INVALID_HANDLE_VALUE while not open; shared by the
// requests of all threads. Constant-initialised, so that it is set before
// the attach below runs (a dynamic initialiser could run after it).
constexpr uintptr_t kNotOpen = UINTPTR_MAX;
static_assert(sizeof(HANDLE) == sizeof(uintptr_t));
constinit std::atomic<uintptr_t> gServiceDevice{kNotOpen};

// Attach succeeds even when the open fails: every request then fails. The
// open is never retried while the library stays loaded.
__attribute__((constructor)) void attachServiceDevice() {
  HANDLE device = CreateFileA(kServiceDevicePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  gServiceDevice.store(reinterpret_cast<uintptr_t>(device));
}

__attribute__((destructor)) void detachServiceDevice() {
  const uintptr_t device = gServiceDevice.exchange(kNotOpen);
  if (device != kNotOpen) {
    CloseHandle(reinterpret_cast<HANDLE>(device));
  }
}

}  // namespace

bool sendServiceRequest(uint32_t code, const void* input, uint32_t inputLength, void* output,
                        uint32_t outputLength) {
  const uintptr_t value = gServiceDevice.load();
  if (value == kNotOpen) {
    return false;
  }
  HANDLE device = reinterpret_cast<HANDLE>(value);
  DWORD bytesReturned = 0;
  return DeviceIoControl(device, code, const_cast<void*>(input), inputLength, output, outputLength, &bytesReturned,
                         nullptr) != FALSE;
}

}  // namespace hmb
