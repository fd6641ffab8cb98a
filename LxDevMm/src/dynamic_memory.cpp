// Dynamic contiguous blocks, allocated and freed through the service.
#include "static_mem_library.h"

using namespace lxdevmm;

LX_EXPORT LxStatus LxDevAllocDynamicMem(DynamicMemBlock* block) {
  if (block == nullptr) {
    return LX_PARAMETER_INVALID;
  }
  StaticMemLibraryUse library;
  HmbDynamicMemAllocFn allocate = nullptr;
  LxStatus status = findStaticMemFunction(library.module(), "HmbDynamicMemAlloc", allocate);
  if (status != LX_OK) {
    return status;
  }
  // Success can still bring back an all-zero block; callers test UserAddress.
  return allocate(block) != 0 ? LX_OK : LX_INTERNAL_ERROR;
}

LX_EXPORT LxStatus LxDevFreeDynamicMem(const DynamicMemBlock* block) {
  if (block == nullptr) {
    return LX_PARAMETER_INVALID;
  }
  StaticMemLibraryUse library;
  HmbDynamicMemFreeFn release = nullptr;
  LxStatus status = findStaticMemFunction(library.module(), "HmbDynamicMemFree", release);
  if (status != LX_OK) {
    return status;
  }
  return release(block) != 0 ? LX_OK : LX_INTERNAL_ERROR;
}
