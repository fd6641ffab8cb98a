// Rows of the device manager's card-type table. The row number is the
// cardTypeIndex stored in card handles and returned by LxGetCardType.
#pragma once

#include <stdint.h>

#include "lx/portable.h"

LX_ENUM(LxCardTypeIndex){
    LX_CARD_TYPE_HERON = 0, LX_CARD_TYPE_EGRET = 1, LX_CARD_TYPE_STORK = 2, LX_CARD_TYPE_CRANE = 3,
    LX_CARD_TYPE_TERNCARD = 4,
};

#define LX_CARD_TYPE_COUNT 5

// Nonzero for a row of the table.
static inline int LxIsCardTypeIndex(int cardTypeIndex) {
  return cardTypeIndex >= 0 && cardTypeIndex < LX_CARD_TYPE_COUNT;
}
