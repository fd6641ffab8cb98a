#include "card_device.h"

#include <cstddef>
#include <memory>
#include <new>

#include "driver_protocol.h"
#include "lx/terncard.h"

namespace terncard {

namespace {

// Destroys the device information list on every path.
class InterfaceList {
 public:
  InterfaceList()
      : list_(SetupDiGetClassDevsA(&kCardInterfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE)) {}
  ~InterfaceList() {
    if (valid()) {
      SetupDiDestroyDeviceInfoList(list_);
    }
  }
  InterfaceList(const InterfaceList&) = delete;
  InterfaceList& operator=(const InterfaceList&) = delete;

  bool valid() const { return list_ != nullptr && list_ != INVALID_HANDLE_VALUE; }
  HDEVINFO get() const { return list_; }

 private:
  HDEVINFO list_;
};

// A card library never sees more cards than this; it bounds the count loop.
constexpr uint32_t kMostCards = 1024;

}  // namespace

HANDLE OpenCardDevice(uint32_t index) {
  InterfaceList list;
  if (!list.valid()) {
    return nullptr;
  }
  SP_DEVICE_INTERFACE_DATA interfaceData{};
  interfaceData.cbSize = sizeof interfaceData;
  if (!SetupDiEnumDeviceInterfaces(list.get(), nullptr, &kCardInterfaceClass, index, &interfaceData)) {
    return nullptr;
  }
  DWORD required = 0;
  SetupDiGetDeviceInterfaceDetailA(list.get(), &interfaceData, nullptr, 0, &required, nullptr);
  if (required <= offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath)) {
    return nullptr;
  }
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[required]());
  if (!buffer) {
    return nullptr;
  }
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.get());
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  if (!SetupDiGetDeviceInterfaceDetailA(list.get(), &interfaceData, detail, required, nullptr, nullptr)) {
    return nullptr;
  }
  // The path must end inside the buffer, whatever the service wrote.
  buffer[required - 1] = 0;
  HANDLE device = CreateFileA(detail->DevicePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  return device != INVALID_HANDLE_VALUE ? device : nullptr;
}

}  // namespace terncard

LX_EXPORT int32_t TernCardGetCardNumber(void) {
  int32_t count = 0;
  while (static_cast<uint32_t>(count) < terncard::kMostCards) {
    HANDLE device = terncard::OpenCardDevice(static_cast<uint32_t>(count));
    if (device == nullptr) {
      break;
    }
    CloseHandle(device);
    ++count;
  }
  return count;
}
