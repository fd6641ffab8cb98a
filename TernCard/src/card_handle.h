// The 32-bit card handle: the context block's movable-memory handle,
// truncated to 32 bits (the compat layer's handles always fit).
#pragma once

#include <cstdint>

#include <windows.h>

#include "lx/internal/tern_card_context.h"

namespace terncard {

// Values that never stand for a context: 0, the failure results 1 to 3 of
// BeginTernCard, and the all-ones value.
constexpr bool isRejectedHandle(uint64_t handle) {
  const uint32_t value = static_cast<uint32_t>(handle);
  return value <= 3 || value == 0xFFFFFFFFu;
}

inline HGLOBAL contextBlockOf(uint64_t handle) {
  return reinterpret_cast<HGLOBAL>(static_cast<uintptr_t>(static_cast<uint32_t>(handle)));
}

inline uint64_t handleOf(HGLOBAL block) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(block));
}

// Written into a context by bring-up when it hands the card out, cleared by
// EndTernCard before the block is freed.
inline constexpr uint32_t kContextTag = 0x54435458;  // "XTCT"

// Locks `block` when it is a card context: a movable block of exactly the
// context's size that carries the tag. Any other block (a lock handle of the
// public API, a snap-ex record, a freed handle) gives null and is left as it
// was; nothing past its end is read.
inline TernCardContext* lockContextBlock(HGLOBAL block) {
  if (block == nullptr || GlobalSize(block) != sizeof(TernCardContext)) {
    return nullptr;
  }
  auto* context = static_cast<TernCardContext*>(GlobalLock(block));
  if (context != nullptr && context->kindTag != kContextTag) {
    GlobalUnlock(block);
    return nullptr;
  }
  return context;
}

// Locks a card's context for the duration of one export and unlocks it on
// every path; a block of another kind is not locked. The handle is not compared with the rejected values; use
// lockValidated() for the exports that do.
class LockedContext {
 public:
  explicit LockedContext(uint64_t handle)
      : block_(contextBlockOf(handle)), context_(lockContextBlock(block_)) {}
  ~LockedContext() {
    if (context_ != nullptr) {
      GlobalUnlock(block_);
    }
  }
  LockedContext(const LockedContext&) = delete;
  LockedContext& operator=(const LockedContext&) = delete;

  explicit operator bool() const { return context_ != nullptr; }
  TernCardContext* operator->() const { return context_; }
  TernCardContext* get() const { return context_; }

 private:
  HGLOBAL block_;
  TernCardContext* context_;
};

// A context locked only when the handle is not one of the rejected values.
class ValidatedContext : public LockedContext {
 public:
  explicit ValidatedContext(uint64_t handle) : LockedContext(isRejectedHandle(handle) ? 0 : handle) {}
};

}  // namespace terncard
