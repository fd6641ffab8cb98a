// The dispatch pattern of the board-access operations in one call.
#pragma once

#include "card_dispatch.h"

namespace lxvideo {

// Lock, bind, call, unlock; `rule` turns the card library's result into a
// status (it gets the card type too).
template <typename Function, typename Rule, typename... Args>
LxStatus callBoard(LxCardHandle handle, const char* name, NameForm form, Rule rule, Args... args) {
  LockedCard card(handle);
  if (!card) {
    return LX_CARD_HANDLE_INVALID;
  }
  Function function = nullptr;
  const LxStatus status = card.bind(name, form, &function);
  if (status != LX_OK) {
    return status;
  }
  return rule(card->cardTypeIndex, function(card->context, args...));
}

}  // namespace lxvideo
