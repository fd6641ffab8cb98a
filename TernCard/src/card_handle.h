// The 32-bit card handle: the context block's movable-memory handle,
// truncated to 32 bits (the compat layer's handles always fit).
#pragma once

#include <cstdint>

#include <windows.h>

#include "lx/tern_card_context.h"

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

// Locks a card's context for the duration of one export and unlocks it on
// every path. The handle is not compared with the rejected values; use
// lockValidated() for the exports that do.
class LockedContext {
 public:
  explicit LockedContext(uint64_t handle)
      : block_(contextBlockOf(handle)), context_(static_cast<TernCardContext*>(GlobalLock(block_))) {}
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
