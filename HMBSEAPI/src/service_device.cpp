#include "service_device.h"

#include <atomic>

#include <windows.h>

namespace hmb {
namespace {

constexpr char kServiceDevicePath[] = "\\\\.\\HMBSERV";

// INVALID_HANDLE_VALUE while not open. Requests of several threads share it.
std::atomic<HANDLE> gServiceDevice{INVALID_HANDLE_VALUE};

// Attach succeeds even when the open fails: every request then fails. The
// open is never retried while the library stays loaded.
__attribute__((constructor)) void attachServiceDevice() {
  gServiceDevice.store(CreateFileA(kServiceDevicePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
}

__attribute__((destructor)) void detachServiceDevice() {
  HANDLE device = gServiceDevice.exchange(INVALID_HANDLE_VALUE);
  if (device != INVALID_HANDLE_VALUE) {
    CloseHandle(device);
  }
}

}  // namespace

bool sendServiceRequest(uint32_t code, const void* input, uint32_t inputLength, void* output,
                        uint32_t outputLength) {
  HANDLE device = gServiceDevice.load();
  if (device == INVALID_HANDLE_VALUE) {
    return false;
  }
  DWORD bytesReturned = 0;
  return DeviceIoControl(device, code, const_cast<void*>(input), inputLength, output, outputLength, &bytesReturned,
                         nullptr) != FALSE;
}

}  // namespace hmb
