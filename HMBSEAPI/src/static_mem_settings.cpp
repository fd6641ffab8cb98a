// The static-memory size setting in the registry, and the base address that
// the driver reserved at its last start.
#include <windows.h>

#include "lx/hmbseapi.h"
#include "service_device.h"

namespace {

// An open registry key, closed on every path.
class RegistryKey {
 public:
  RegistryKey(const char* path, REGSAM access) {
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, access, &key_) != ERROR_SUCCESS) {
      key_ = nullptr;
    }
  }
  ~RegistryKey() {
    if (key_ != nullptr) {
      RegCloseKey(key_);
    }
  }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  bool isOpen() const { return key_ != nullptr; }

  // A 4-byte value; anything else counts as unreadable.
  bool readDword(const char* name, uint32_t* value) const {
    DWORD type = 0;
    DWORD size = sizeof *value;
    uint32_t data = 0;
    if (RegQueryValueExA(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) != ERROR_SUCCESS ||
        size != sizeof data) {
      return false;
    }
    *value = data;
    return true;
  }

  bool writeDword(const char* name, uint32_t value) {
    return RegSetValueExA(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) ==
           ERROR_SUCCESS;
  }

 private:
  HKEY key_ = nullptr;
};

}  // namespace

LX_EXPORT int32_t HmbGetStaticMem(uint32_t* requiredPages, uint32_t* physicalAddress) {
  if (requiredPages == nullptr || physicalAddress == nullptr) {
    return 0;
  }
  *requiredPages = 0;
  *physicalAddress = 0;
  uint32_t pages = 0;
  uint32_t lastStartDidIt = 0;
  {
    RegistryKey parameters(HMB_PARAMETERS_KEY, KEY_READ);
    if (!parameters.isOpen() || !parameters.readDword(HMB_REQUIRED_MEMORY_SIZE, &pages)) {
      return 0;
    }
    *requiredPages = pages;
    // ReturnValue 0: the reservation failed, or a new size waits for the
    // next driver start; the base reported would not match the size.
    if (!parameters.readDword(HMB_RETURN_VALUE, &lastStartDidIt) || lastStartDidIt == 0) {
      return 0;
    }
  }
  return hmb::sendServiceRequest(IOCTL_HMB_STATIC_BASE, nullptr, 0, physicalAddress, sizeof *physicalAddress) ? 1
                                                                                                              : 0;
}

LX_EXPORT int32_t HmbSetStaticMem(uint32_t pages) {
  RegistryKey parameters(HMB_PARAMETERS_KEY, KEY_ALL_ACCESS);
  if (!parameters.isOpen() || !parameters.writeDword(HMB_REQUIRED_MEMORY_SIZE, pages)) {
    return 0;
  }
  // The running driver keeps its old reservation until it starts again.
  return parameters.writeDword(HMB_RETURN_VALUE, 0) ? 1 : 0;
}
