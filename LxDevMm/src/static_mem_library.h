// Access to the static-memory service library "Hmbseapi.dll", found by name
// for each call so that the device manager does not depend on it at load
// time.
#pragma once

#include <cstdint>

#include <windows.h>

#include "lx/devmm.h"

namespace lxdevmm {

inline constexpr char kStaticMemLibraryName[] = "Hmbseapi.dll";

// The service's exports; each returns nonzero for success.
using HmbDynamicMemAllocFn = int32_t (*)(DynamicMemBlock* block);
using HmbDynamicMemFreeFn = int32_t (*)(const DynamicMemBlock* block);
using HmbGetStaticMemFn = int32_t (*)(uint32_t* requiredPages, uint32_t* physicalAddress);
using HmbSetStaticMemFn = int32_t (*)(uint32_t pages);
using HmbStaticMemLockFn = int32_t (*)(StaticMemBlock* block);
using HmbStaticMemUnlockFn = int32_t (*)(const StaticMemBlock* block);
using HmbFillStaticMemFn = int32_t (*)(uint32_t offset, uint32_t length, uint8_t value);

// Holds one reference to the library for the length of one call (the "load
// and release" operations). The library stays loaded afterwards exactly when
// another module holds it.
class StaticMemLibraryUse {
 public:
  StaticMemLibraryUse();
  ~StaticMemLibraryUse();
  StaticMemLibraryUse(const StaticMemLibraryUse&) = delete;
  StaticMemLibraryUse& operator=(const StaticMemLibraryUse&) = delete;

  // The library as the process has it, or null.
  HMODULE module() const { return module_; }

 private:
  HMODULE loaded_;
  HMODULE module_;
};

// The library if some module already holds it loaded (lock, unlock and fill
// work only while a card is open); no reference is added.
HMODULE loadedStaticMemLibrary();

// Resolves an export of the library: LX_OPEN_DRIVER_FAILED without a module,
// LX_NOT_SUPPORT_INTERFACE without the export.
template <typename Function>
LxStatus findStaticMemFunction(HMODULE module, const char* name, Function& out) {
  if (module == nullptr) {
    return LX_OPEN_DRIVER_FAILED;
  }
  // Through void (*)(void), the type that converts to any function type.
  out = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
  return out != nullptr ? LX_OK : LX_NOT_SUPPORT_INTERFACE;
}

}  // namespace lxdevmm
