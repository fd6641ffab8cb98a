#include "static_mem_library.h"

namespace lxdevmm {

StaticMemLibraryUse::StaticMemLibraryUse()
    : loaded_(LoadLibraryA(kStaticMemLibraryName)), module_(GetModuleHandleA(kStaticMemLibraryName)) {}

StaticMemLibraryUse::~StaticMemLibraryUse() {
  // Release only the reference this call took.
  if (loaded_ != nullptr) {
    FreeLibrary(loaded_);
  }
}

HMODULE loadedStaticMemLibrary() { return GetModuleHandleA(kStaticMemLibraryName); }

}  // namespace lxdevmm
