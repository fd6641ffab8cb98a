#include "card_type_rules.h"
#include "lx/card_type.h"

namespace lxvideo {

namespace {

bool usesLayoutB(int32_t cardTypeIndex) {
  return cardTypeIndex == LX_CARD_TYPE_EGRET || cardTypeIndex == LX_CARD_TYPE_STORK;
}

constexpr uint64_t kStartFailedAll = ~uint64_t{0};  // -1

}  // namespace

LxStatus beginResultStatus(int32_t cardTypeIndex, uint64_t result) {
  switch (result) {
    case 0: return LX_CARD_HANDLE_INVALID;
    case 1: return LX_NO_CARD_FOUND;
    case 2: return LX_HW_MAP_MEMORY_ERROR;
    case kStartFailedAll: return LX_HW_INIT_ERROR;
    default: break;
  }
  if (usesLayoutB(cardTypeIndex)) {
    switch (result) {
      case 13: return LX_HW_INIT_I2C_ERROR;
      case 14: return LX_HW_INIT_AD_ERROR;
      case 15: return LX_HW_BOARD_TYPE_ERROR;
      default: return LX_OK;
    }
  }
  if (result == 3) {
    return LX_NOT_ENOUGH_SYSTEM_MEMORY;
  }
  // The TernCard library's "no screen device context" is a failed
  // initialisation, not a context.
  if (result == 4 && cardTypeIndex == LX_CARD_TYPE_TERNCARD) {
    return LX_HW_INIT_ERROR;
  }
  return LX_OK;
}

}  // namespace lxvideo
