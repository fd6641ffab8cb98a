// Rows of the device manager's card-type table. The row number is the
// cardTypeIndex stored in card handles and returned by LxGetCardType.
#pragma once

#include <stdint.h>

enum LxCardTypeIndex : int32_t {
  LX_CARD_TYPE_HERON = 0,
  LX_CARD_TYPE_EGRET = 1,
  LX_CARD_TYPE_STORK = 2,
  LX_CARD_TYPE_CRANE = 3,
  LX_CARD_TYPE_TERNCARD = 4,
};

inline constexpr int LX_CARD_TYPE_COUNT = 5;

inline constexpr bool LxIsCardTypeIndex(int cardTypeIndex) {
  return cardTypeIndex >= 0 && cardTypeIndex < LX_CARD_TYPE_COUNT;
}
