// LxDevMmState: the device manager's one process-wide record.
//
// Before the first LxDevOpenDriver, card counts and the static-memory info
// are computed lazily and kept in heap cells; the first open takes a
// snapshot of them and frees the cells; LxDevSetStaticMem drops the snapshot
// again. The design takes no locks (cards are opened from one thread at a
// time), but any thread may call in, so every field is an atomic.
#pragma once

#include <atomic>
#include <cstdint>

#include "lx/card_type.h"
#include "lx/static_mem_records.h"

namespace lxdevmm {

class AtomicStaticMemInfo {
 public:
  StaticMemInfo load() const {
    return {requiredPages_.load(std::memory_order_relaxed), physicalAddress_.load(std::memory_order_relaxed),
            valid_.load(std::memory_order_relaxed)};
  }
  void store(const StaticMemInfo& info) {
    requiredPages_.store(info.RequiredPages, std::memory_order_relaxed);
    physicalAddress_.store(info.PhysicalAddress, std::memory_order_relaxed);
    valid_.store(info.Valid, std::memory_order_relaxed);
  }

 private:
  std::atomic<uint32_t> requiredPages_{0};
  std::atomic<uint32_t> physicalAddress_{0};
  std::atomic<uint32_t> valid_{0};
};

struct DevMmState {
  std::atomic<int32_t> initialised{0};
  std::atomic<int32_t> counts[LX_CARD_TYPE_COUNT]{};
  std::atomic<int32_t*> countCells[LX_CARD_TYPE_COUNT]{};
  AtomicStaticMemInfo staticMemInfo;
  std::atomic<StaticMemInfo*> staticMemCell{nullptr};
  // Module references taken by LxDevOpenDriver and not yet dropped by
  // LxDevCloseDriver, so a surplus close cannot release someone else's.
  std::atomic<int32_t> openReferences[LX_CARD_TYPE_COUNT]{};
};

DevMmState& devMmState();

// Frees every cell still allocated (process detach).
void freeStateCells();

}  // namespace lxdevmm
