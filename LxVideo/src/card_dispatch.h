// The pattern every card operation follows: lock the card handle, bind the
// card-library function by its composed name (on every call; nothing is
// cached), call it with the context, and unlock the handle exactly once.
#pragma once

#include <windows.h>

#include "lx/internal/card_record.h"
#include "lx/internal/card_state.h"
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

// A card handle locked (checked by kind) for one call; unlocked by the
// destructor. A block of another kind does not lock.
class LockedCard {
 public:
  explicit LockedCard(LxCardHandle handle) : lock_(handle) {}

  explicit operator bool() const { return static_cast<bool>(lock_); }
  LxCardRecord* operator->() const { return lock_.get(); }
  LxCardRecord* get() const { return lock_.get(); }
  void unlock() { lock_.unlock(); }

  bool idle() const { return cardState(lock_.get()) == LX_CAPTURE_STATE_IDLE; }

  template <typename Function>
  LxStatus bind(const char* name, NameForm form, Function* out) const {
    return bindCardFunction(lock_->cardTypeIndex, name, form, out);
  }

 private:
  lxkinds::CardRecordLock lock_;
};

// The usual result rule: 0 from the card library is an internal error.
inline LxStatus statusOfResult(int32_t result) { return result != 0 ? LX_OK : LX_INTERNAL_ERROR; }

}  // namespace lxvideo
