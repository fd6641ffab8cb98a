#include "static_mem_info.h"

#include <new>

#include "devmm_state.h"
#include "static_mem_library.h"

namespace lxdevmm {

StaticMemInfo fetchStaticMemInfo() {
  uint32_t requiredPages = 0;
  uint32_t physicalAddress = 0;
  LxStatus status;
  {
    StaticMemLibraryUse library;
    HmbGetStaticMemFn getStaticMem = nullptr;
    status = findStaticMemFunction(library.module(), "HmbGetStaticMem", getStaticMem);
    if (status == LX_OK && getStaticMem(&requiredPages, &physicalAddress) == 0) {
      status = LX_ALLOCATE_DEVICE_MEMORY_ERROR;
    }
  }
  return {requiredPages, physicalAddress, status == LX_OK ? 1u : 0u};
}

}  // namespace lxdevmm

using namespace lxdevmm;

LX_EXPORT LxStatus LxDevGetStaticMem(uint32_t* requiredPages, uint32_t* physicalAddress) {
  if (requiredPages == nullptr || physicalAddress == nullptr) {
    return LX_PARAMETER_INVALID;
  }
  DevMmState& state = devMmState();
  StaticMemInfo info;
  if (state.initialised.load() != 0) {
    info = state.staticMemInfo.load();
  } else if (const StaticMemInfo* cell = state.staticMemCell.load()) {
    info = *cell;
  } else {
    auto* newCell = new (std::nothrow) StaticMemInfo{};
    if (newCell == nullptr) {
      return LX_NOT_ENOUGH_SYSTEM_MEMORY;
    }
    *newCell = fetchStaticMemInfo();
    StaticMemInfo* installed = nullptr;
    if (state.staticMemCell.compare_exchange_strong(installed, newCell)) {
      info = *newCell;
    } else {
      info = *installed;  // another thread filled the cell first
      delete newCell;
    }
  }
  *requiredPages = info.RequiredPages;
  *physicalAddress = info.PhysicalAddress;
  return info.Valid != 0 ? LX_OK : LX_ALLOCATE_DEVICE_MEMORY_ERROR;
}

LX_EXPORT LxStatus LxDevSetStaticMem(uint32_t pages) {
  StaticMemLibraryUse library;
  HmbSetStaticMemFn setStaticMem = nullptr;
  LxStatus status = findStaticMemFunction(library.module(), "HmbSetStaticMem", setStaticMem);
  if (status != LX_OK) {
    return status;
  }
  if (setStaticMem(pages) == 0) {
    return LX_INTERNAL_ERROR;
  }
  // A new size invalidates what is known: the next query fetches again and
  // the next open takes a new snapshot of counts and static memory.
  DevMmState& state = devMmState();
  state.initialised.store(0);
  delete state.staticMemCell.exchange(nullptr);
  return LX_OK;
}
