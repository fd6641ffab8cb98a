// Static memory, passed through to the static-memory service.
#include "lx/hmbseapi.h"
#include "lx/terncard.h"

LX_EXPORT int32_t StaticMemLock(uint32_t offset, uint32_t length, uint64_t* mappingHandle,
                                        void** userAddress) {
  // Without both outputs the caller could never unlock what gets mapped.
  if (mappingHandle == nullptr || userAddress == nullptr) {
    return 0;
  }
  StaticMemBlock block{};
  block.Offset = offset;
  block.Length = length;
  const int32_t result = HmbStaticMemLock(&block);
  *mappingHandle = block.MappingHandle;
  *userAddress = reinterpret_cast<void*>(static_cast<uintptr_t>(block.UserAddress));
  return result;
}

LX_EXPORT int32_t StaticMemUnlock(uint64_t mappingHandle, void* userAddress) {
  StaticMemBlock block{};
  block.MappingHandle = mappingHandle;
  block.UserAddress = reinterpret_cast<uintptr_t>(userAddress);
  return HmbStaticMemUnlock(&block);
}

LX_EXPORT int32_t GetStaticMem(uint32_t* requiredPages, uint32_t* physicalAddress) {
  return HmbGetStaticMem(requiredPages, physicalAddress);
}

LX_EXPORT int32_t SetStaticMem(uint32_t pages) { return HmbSetStaticMem(pages); }
