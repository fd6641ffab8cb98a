// The pattern every card operation follows: lock the card handle, bind the
// card-library function by its composed name (on every call; nothing is
// cached), call it with the context, and unlock the handle exactly once.
#pragma once

#include <windows.h>

#include "lx/internal/card_record.h"
#include "lx/devmm.h"
#include "lx/internal/handle_kinds.h"
#include "lx/status.h"
#include "lx/video_types.h"
#include "lx/video_card.h"

namespace lxvideo {

// How an operation's name is composed with the card type's prefix.
enum class NameForm {
  NameThenPrefix,  // "Begin" -> BeginTernCard
  NameAlone,       // "GetSlotInfo"
  PrefixThenName,  // "SetMask" -> TernCardSetMask
};

template <typename Function>
LxStatus bindCardFunction(int32_t cardTypeIndex, const char* name, NameForm form, Function* out) {
  LxDevProc proc = nullptr;
  const LxStatus status = LxDevGetFuncAddr(cardTypeIndex, name, &proc, form == NameForm::NameAlone ? 0 : 1,
                                           form == NameForm::PrefixThenName ? 1 : 0);
  *out = status == LX_OK ? reinterpret_cast<Function>(proc) : nullptr;
  return status;
}

// A card handle locked for one call; unlocked by the destructor. A block of
// another kind does not lock.
class LockedCard {
 public:
  explicit LockedCard(LxCardHandle handle) : handle_(handle), record_(lxkinds::lockCardHandle(handle)) {}
  ~LockedCard() {
    if (record_ != nullptr) {
      GlobalUnlock(handle_);
    }
  }
  LockedCard(const LockedCard&) = delete;
  LockedCard& operator=(const LockedCard&) = delete;

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

  bool idle() const { return record_->state == LX_CAPTURE_STATE_IDLE; }

  template <typename Function>
  LxStatus bind(const char* name, NameForm form, Function* out) const {
    return bindCardFunction(record_->cardTypeIndex, name, form, out);
  }

 private:
  LxCardHandle handle_;
  LxCardRecord* record_;
};

// The usual result rule: 0 from the card library is an internal error.
inline LxStatus statusOfResult(int32_t result) { return result != 0 ? LX_OK : LX_INTERNAL_ERROR; }

}  // namespace lxvideo
