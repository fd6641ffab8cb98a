// Windows of the static memory: lock, unlock and fill. Lock and fill need the
// service library loaded already by an open card's library. A window stays
// the process's until it unlocks it, even after the last card ended, so the
// unlock loads the library for the call when no card holds it.
#include "static_mem_library.h"

using namespace lxdevmm;

LX_EXPORT LxStatus LxDevStaticMemLock(StaticMemBlock* block) {
  if (block == nullptr) {
    return LX_PARAMETER_INVALID;
  }
  if (block->Length == 0) {
    // An empty window needs no mapping and no service.
    block->UserAddress = 0;
    block->MappingHandle = 0;
    return LX_OK;
  }
  HmbStaticMemLockFn lock = nullptr;
  LxStatus status = findStaticMemFunction(loadedStaticMemLibrary(), "HmbStaticMemLock", lock);
  if (status != LX_OK) {
    return status;
  }
  lock(block);  // the block itself tells what happened
  if (block->PhysicalAddress == 0) {
    return LX_ALLOCATE_DEVICE_MEMORY_ERROR;
  }
  if (block->UserAddress == 0) {
    return LX_LOCK_DEVICE_MEMORY_ERROR;
  }
  return LX_OK;
}

LX_EXPORT LxStatus LxDevStaticMemUnlock(const StaticMemBlock* block) {
  if (block == nullptr) {
    return LX_PARAMETER_INVALID;
  }
  StaticMemLibraryUse library;
  HmbStaticMemUnlockFn unlock = nullptr;
  LxStatus status = findStaticMemFunction(library.module(), "HmbStaticMemUnlock", unlock);
  if (status != LX_OK) {
    return status;
  }
  return unlock(block) != 0 ? LX_OK : LX_INTERNAL_ERROR;
}

LX_EXPORT LxStatus LxDevFillStaticMem(uint32_t offset, uint32_t length, uint32_t value) {
  HmbFillStaticMemFn fill = nullptr;
  LxStatus status = findStaticMemFunction(loadedStaticMemLibrary(), "HmbFillStaticMem", fill);
  if (status != LX_OK) {
    return status;
  }
  return fill(offset, length, static_cast<uint8_t>(value & 0xFF)) != 0 ? LX_OK : LX_INTERNAL_ERROR;
}
