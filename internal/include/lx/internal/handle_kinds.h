// The kinds of movable blocks the libraries hand out as handles. A block of
// each kind has its kind's exact size and a tag that its maker writes and its
// free clears, so that a handle of another kind, a caller's own block or a
// freed handle whose slot now holds something else is refused without reading
// past its end.
#pragma once

#include <stdint.h>

#include <windows.h>

#include "lx/internal/card_record.h"

namespace lxkinds {

inline constexpr uint32_t kCardHandleTag = 0x4358414CU;  // "LAXC"

// The lock handle of a static-memory window: the two values the unlock
// needs, then the tag.
struct StaticMemLockRecord {
  uint64_t MappingHandle;
  uint64_t UserAddress;
  uint64_t kindTag;
};
static_assert(sizeof(StaticMemLockRecord) == 24);
static_assert(offsetof(StaticMemLockRecord, MappingHandle) == 0);
static_assert(offsetof(StaticMemLockRecord, UserAddress) == 8);
inline constexpr uint64_t kStaticMemLockTag = 0x4B434F4C4D454D53ULL;  // "SMEMLOCK"

// Locks the block when it is of the kind (Record, with its tag at Field);
// otherwise leaves it unlocked and returns null.
template <typename Record, typename Tag, Tag Record::*Field>
Record* lockKind(HGLOBAL handle, Tag tag) {
  if (handle == nullptr || GlobalSize(handle) != sizeof(Record)) {
    return nullptr;
  }
  auto* record = static_cast<Record*>(GlobalLock(handle));
  if (record != nullptr && record->*Field != tag) {
    GlobalUnlock(handle);
    return nullptr;
  }
  return record;
}

inline LxCardRecord* lockCardHandle(HGLOBAL handle) {
  return lockKind<LxCardRecord, uint32_t, &LxCardRecord::kindTag>(handle, kCardHandleTag);
}

// A card record locked (checked by kind) for one scope; false when the
// handle is no card handle.
class CardRecordLock {
 public:
  explicit CardRecordLock(HGLOBAL handle) : handle_(handle), record_(lockCardHandle(handle)) {}
  ~CardRecordLock() { unlock(); }
  CardRecordLock(const CardRecordLock&) = delete;
  CardRecordLock& operator=(const CardRecordLock&) = delete;
  explicit operator bool() const { return record_ != nullptr; }
  LxCardRecord* operator->() const { return record_; }
  LxCardRecord* get() const { return record_; }

  // Unlocks before the end of the scope (the handle is about to be freed).
  void unlock() {
    if (record_ != nullptr) {
      GlobalUnlock(handle_);
      record_ = nullptr;
    }
  }

 private:
  HGLOBAL handle_;
  LxCardRecord* record_;
};

inline StaticMemLockRecord* lockStaticMemLock(HGLOBAL handle) {
  return lockKind<StaticMemLockRecord, uint64_t, &StaticMemLockRecord::kindTag>(handle, kStaticMemLockTag);
}

}  // namespace lxkinds
