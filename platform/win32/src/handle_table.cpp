// The kernel-object handle table, CloseHandle and WaitForSingleObject.
#include "handle_table.h"

#include <deque>
#include <mutex>
#include <vector>

namespace lx::win32 {
namespace {

constexpr uint32_t kGenerationShift = 2;
constexpr uint32_t kGenerationBits = 13;
constexpr uint32_t kGenerationMask = (1u << kGenerationBits) - 1;
constexpr uint32_t kIndexShift = kGenerationShift + kGenerationBits;
constexpr uint32_t kIndexBits = 16;
constexpr uint32_t kMaxSlots = 1u << kIndexBits;

struct Slot {
  std::shared_ptr<KernelObject> object;
  uint32_t generation = 0;
};

struct Table {
  std::mutex mutex;
  std::vector<Slot> slots;
  std::deque<uint32_t> freeSlots;
  size_t open = 0;
};

Table& table() {
  static Table* t = new Table;  // never destroyed: handles may be closed during exit
  return *t;
}

// The slot of an open handle, or null. Caller holds the mutex.
Slot* find(Table& t, HANDLE handle) {
  uintptr_t value = reinterpret_cast<uintptr_t>(handle);
  if (value == 0 || value > 0x7FFFFFFFu || (value & 0x3) != 0) return nullptr;
  uint32_t index = static_cast<uint32_t>(value >> kIndexShift);
  uint32_t generation = static_cast<uint32_t>(value >> kGenerationShift) & kGenerationMask;
  if (index >= t.slots.size()) return nullptr;
  Slot& slot = t.slots[index];
  if (!slot.object || slot.generation != generation) return nullptr;
  return &slot;
}

}  // namespace

DWORD KernelObject::wait(DWORD) {
  SetLastError(ERROR_INVALID_HANDLE);
  return WAIT_FAILED;
}

HANDLE insertHandle(std::shared_ptr<KernelObject> object) {
  if (!object) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  Table& t = table();
  std::lock_guard<std::mutex> lock(t.mutex);
  uint32_t index;
  if (t.slots.size() < kMaxSlots) {
    index = static_cast<uint32_t>(t.slots.size());
    t.slots.emplace_back();
  } else if (!t.freeSlots.empty()) {
    index = t.freeSlots.front();
    t.freeSlots.pop_front();
  } else {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  Slot& slot = t.slots[index];
  slot.generation = slot.generation % kGenerationMask + 1;  // 1..8191, never 0
  slot.object = std::move(object);
  ++t.open;
  uintptr_t value = (uintptr_t{index} << kIndexShift) | (uintptr_t{slot.generation} << kGenerationShift);
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> lookupHandle(HANDLE handle) {
  Table& t = table();
  std::lock_guard<std::mutex> lock(t.mutex);
  if (Slot* slot = find(t, handle)) return slot->object;
  SetLastError(ERROR_INVALID_HANDLE);
  return nullptr;
}

std::shared_ptr<KernelObject> removeHandle(HANDLE handle) {
  Table& t = table();
  std::lock_guard<std::mutex> lock(t.mutex);
  Slot* slot = find(t, handle);
  if (slot == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  std::shared_ptr<KernelObject> object = std::move(slot->object);
  slot->object.reset();
  t.freeSlots.push_back(static_cast<uint32_t>(slot - t.slots.data()));
  --t.open;
  return object;
}

size_t openHandleCount() {
  Table& t = table();
  std::lock_guard<std::mutex> lock(t.mutex);
  return t.open;
}

}  // namespace lx::win32

using namespace lx::win32;

WIN32_API BOOL WINAPI CloseHandle(HANDLE object) {
  if (object == reinterpret_cast<HANDLE>(intptr_t{-1}) || object == reinterpret_cast<HANDLE>(intptr_t{-2}))
    return TRUE;  // pseudo-handles of the current process and thread
  std::shared_ptr<KernelObject> removed = removeHandle(object);
  if (!removed) return FALSE;
  return removed->onClose();
}

WIN32_API DWORD WINAPI WaitForSingleObject(HANDLE object, DWORD milliseconds) {
  std::shared_ptr<KernelObject> target = lookupHandle(object);
  if (!target) return WAIT_FAILED;
  return target->wait(milliseconds);
}
