// Static-memory operations of the public API: pass-through to the device
// manager's facade, and lock handles that carry a window from lock to unlock.
#include <windows.h>

#include "lx/devmm.h"
#include "lx/internal/handle_kinds.h"
#include "lx/video.h"

namespace {

using lxkinds::StaticMemLockRecord;

// A lock handle pinned for one scope; null when the handle is not one.
class LockedRecord {
 public:
  explicit LockedRecord(HGLOBAL handle) : handle_(handle), record_(lxkinds::lockStaticMemLock(handle)) {}
  ~LockedRecord() {
    if (record_ != nullptr) {
      GlobalUnlock(handle_);
    }
  }
  LockedRecord(const LockedRecord&) = delete;
  LockedRecord& operator=(const LockedRecord&) = delete;
  StaticMemLockRecord* get() const { return record_; }
  // The caller unlocked the handle itself.
  void release() { record_ = nullptr; }

 private:
  HGLOBAL handle_;
  StaticMemLockRecord* record_;
};

}  // namespace

LX_EXPORT LxStatus LxGetStaticMem(uint32_t* pages) {
  if (pages == nullptr) {
    return LX_PARAMETER_INVALID;
  }
  uint32_t physicalAddress = 0;
  return LxDevGetStaticMem(pages, &physicalAddress);
}

LX_EXPORT LxStatus LxSetStaticMem(uint32_t pages) { return LxDevSetStaticMem(pages); }

LX_EXPORT LxStatus LxFillStaticMem(uint32_t offset, uint32_t length, uint8_t value) {
  return LxDevFillStaticMem(offset, length, value);
}

LX_EXPORT LxStatus LxStaticMemLock(uint32_t offset, uint32_t length, LxStaticMemLockHandle* lock, void** address) {
  if (lock == nullptr || address == nullptr) {
    return LX_PARAMETER_INVALID;
  }
  *lock = nullptr;
  *address = nullptr;
  StaticMemBlock block{};
  block.Offset = offset;
  block.Length = length;
  const LxStatus status = LxDevStaticMemLock(&block);
  if (status != LX_OK) {
    return status;
  }
  HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(StaticMemLockRecord));
  if (handle == nullptr) {
    // The window stays mapped; the service undoes it when the process ends.
    return LX_NOT_ENOUGH_SYSTEM_MEMORY;
  }
  auto* record = static_cast<StaticMemLockRecord*>(GlobalLock(handle));
  if (record == nullptr) {
    GlobalFree(handle);
    return LX_NOT_ENOUGH_SYSTEM_MEMORY;
  }
  record->MappingHandle = block.MappingHandle;
  record->UserAddress = block.UserAddress;
  record->kindTag = lxkinds::kStaticMemLockTag;
  GlobalUnlock(handle);
  *lock = handle;
  *address = reinterpret_cast<void*>(block.UserAddress);
  return LX_OK;
}

LX_EXPORT LxStatus LxStaticMemUnlock(LxStaticMemLockHandle lock) {
  LockedRecord record(static_cast<HGLOBAL>(lock));
  if (record.get() == nullptr) {
    return LX_PARAMETER_INVALID;
  }
  StaticMemBlock block{};
  block.MappingHandle = record.get()->MappingHandle;
  block.UserAddress = record.get()->UserAddress;
  // An empty window was never mapped: nothing for the service to undo.
  if (block.MappingHandle != 0 || block.UserAddress != 0) {
    const LxStatus status = LxDevStaticMemUnlock(&block);
    if (status != LX_OK) {
      return status;  // the handle stays valid: the caller may retry
    }
  }
  record.get()->kindTag = 0;
  GlobalUnlock(static_cast<HGLOBAL>(lock));
  record.release();
  GlobalFree(static_cast<HGLOBAL>(lock));
  return LX_OK;
}
