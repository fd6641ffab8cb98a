// Global memory: GlobalAlloc, GlobalLock, GlobalUnlock, GlobalFree,
// GlobalFlags, GlobalSize.
//
// Moveable handle values: bits 0-1 are 0b10 (so a value is never an aligned
// pointer and never 0xFFFFFFFF), bits 2-15 a generation counter 1..16383
// (never 0, so the value is never 0 to 4), bits 16-30 the slot index; bit 31
// and the upper 32 bits are 0. A slot that is freed goes to the back of a FIFO
// of free slots, and fresh slots are used before any freed one is reused, so a
// given value comes back only after about 2^29 moveable allocations: a stale
// copy of a freed handle locks to null. Fixed blocks are malloc pointers,
// recorded so that the functions can tell them from foreign pointers.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace {

constexpr uint32_t kTagBits = 2;
constexpr uint32_t kTag = 0x2;
constexpr uint32_t kGenerationBits = 14;
constexpr uint32_t kGenerationMask = (1u << kGenerationBits) - 1;
constexpr uint32_t kIndexShift = kTagBits + kGenerationBits;
constexpr uint32_t kIndexBits = 15;
constexpr uint32_t kMaxSlots = 1u << kIndexBits;

struct Slot {
  void* data = nullptr;
  SIZE_T size = 0;
  uint32_t generation = 0;  // current generation; 0 only before first use
  uint32_t lockCount = 0;
  bool live = false;
};

struct FixedBlock {
  SIZE_T size;
};

std::mutex gMutex;
std::vector<Slot> gSlots;
std::deque<uint32_t> gFreeSlots;  // FIFO of freed slot indices
std::unordered_map<void*, FixedBlock> gFixed;

uint32_t encode(uint32_t index, uint32_t generation) {
  return (index << kIndexShift) | (generation << kTagBits) | kTag;
}

// The slot of a live moveable handle, or null. Caller holds gMutex.
Slot* findMoveable(HGLOBAL mem) {
  uintptr_t value = reinterpret_cast<uintptr_t>(mem);
  if (value > 0x7FFFFFFFu || (value & 0x3) != kTag) return nullptr;
  uint32_t index = static_cast<uint32_t>(value >> kIndexShift);
  uint32_t generation = static_cast<uint32_t>(value >> kTagBits) & kGenerationMask;
  if (index >= gSlots.size()) return nullptr;
  Slot& slot = gSlots[index];
  if (!slot.live || slot.generation != generation) return nullptr;
  return &slot;
}

// The record of a live fixed block, or null. Caller holds gMutex.
FixedBlock* findFixed(HGLOBAL mem) {
  auto it = gFixed.find(static_cast<void*>(mem));
  return it == gFixed.end() ? nullptr : &it->second;
}

}  // namespace

WIN32_API HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes) {
  const bool zero = (flags & GMEM_ZEROINIT) != 0;
  if ((flags & GMEM_MOVEABLE) == 0) {
    void* data = zero ? std::calloc(1, bytes ? bytes : 1) : std::malloc(bytes ? bytes : 1);
    if (data == nullptr) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    std::lock_guard<std::mutex> lock(gMutex);
    gFixed[data] = FixedBlock{bytes};
    return static_cast<HGLOBAL>(data);
  }
  void* data = nullptr;
  if (bytes != 0) {
    data = zero ? std::calloc(1, bytes) : std::malloc(bytes);
    if (data == nullptr) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
  }
  std::lock_guard<std::mutex> lock(gMutex);
  uint32_t index;
  if (gSlots.size() < kMaxSlots) {
    index = static_cast<uint32_t>(gSlots.size());
    gSlots.emplace_back();
  } else if (!gFreeSlots.empty()) {
    index = gFreeSlots.front();
    gFreeSlots.pop_front();
  } else {
    std::free(data);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  Slot& slot = gSlots[index];
  slot.generation = slot.generation % kGenerationMask + 1;  // 1..16383, never 0
  slot.data = data;
  slot.size = bytes;
  slot.lockCount = 0;
  slot.live = true;
  return reinterpret_cast<HGLOBAL>(static_cast<uintptr_t>(encode(index, slot.generation)));
}

WIN32_API LPVOID WINAPI GlobalLock(HGLOBAL mem) {
  std::lock_guard<std::mutex> lock(gMutex);
  if (Slot* slot = findMoveable(mem)) {
    if (slot->data == nullptr) {
      SetLastError(ERROR_DISCARDED);
      return nullptr;
    }
    if (slot->lockCount < GMEM_LOCKCOUNT) ++slot->lockCount;
    return slot->data;
  }
  if (findFixed(mem) != nullptr) return static_cast<LPVOID>(mem);
  SetLastError(ERROR_INVALID_HANDLE);
  return nullptr;
}

WIN32_API BOOL WINAPI GlobalUnlock(HGLOBAL mem) {
  std::lock_guard<std::mutex> lock(gMutex);
  if (Slot* slot = findMoveable(mem)) {
    if (slot->lockCount == 0) {
      SetLastError(ERROR_NOT_LOCKED);
      return FALSE;
    }
    if (slot->lockCount < GMEM_LOCKCOUNT) --slot->lockCount;  // a saturated count stays
    if (slot->lockCount == 0) {
      SetLastError(NO_ERROR);
      return FALSE;
    }
    return TRUE;
  }
  if (findFixed(mem) != nullptr) return TRUE;  // fixed blocks are always locked
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

WIN32_API HGLOBAL WINAPI GlobalFree(HGLOBAL mem) {
  if (mem == nullptr) return nullptr;
  void* data = nullptr;
  {
    std::lock_guard<std::mutex> lock(gMutex);
    if (Slot* slot = findMoveable(mem)) {
      data = slot->data;
      slot->data = nullptr;
      slot->size = 0;
      slot->lockCount = 0;
      slot->live = false;
      gFreeSlots.push_back(static_cast<uint32_t>(slot - gSlots.data()));
    } else if (findFixed(mem) != nullptr) {
      gFixed.erase(static_cast<void*>(mem));
      data = static_cast<void*>(mem);
    } else {
      SetLastError(ERROR_INVALID_HANDLE);
      return mem;
    }
  }
  std::free(data);
  return nullptr;
}

WIN32_API UINT WINAPI GlobalFlags(HGLOBAL mem) {
  std::lock_guard<std::mutex> lock(gMutex);
  if (Slot* slot = findMoveable(mem)) {
    UINT flags = slot->lockCount & GMEM_LOCKCOUNT;
    if (slot->data == nullptr) flags |= GMEM_DISCARDED;
    return flags;
  }
  if (findFixed(mem) != nullptr) return 0;
  SetLastError(ERROR_INVALID_HANDLE);
  return GMEM_INVALID_HANDLE;
}

WIN32_API SIZE_T WINAPI GlobalSize(HGLOBAL mem) {
  std::lock_guard<std::mutex> lock(gMutex);
  if (Slot* slot = findMoveable(mem)) return slot->size;
  if (FixedBlock* block = findFixed(mem)) return block->size;
  SetLastError(ERROR_INVALID_HANDLE);
  return 0;
}
