#include "driver_channel.h"

#include <atomic>

namespace terncard {
namespace {

std::atomic<DeviceControlFunction> deviceControl{&DeviceIoControl};

}  // namespace

BOOL sendDeviceControl(HANDLE device, DWORD code, void* in, DWORD inBytes, void* out, DWORD outBytes,
                       DWORD* returned) {
  DWORD ignored = 0;
  return deviceControl.load(std::memory_order_relaxed)(device, code, in, inBytes, out, outBytes,
                                                       returned != nullptr ? returned : &ignored, nullptr);
}

void setDeviceControlForTesting(DeviceControlFunction function) {
  deviceControl.store(function != nullptr ? function : &DeviceIoControl);
}

}  // namespace terncard
