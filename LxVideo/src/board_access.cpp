// Direct board access: signal presence, board and slot information, I2C
// transfers and raw 32-bit registers.
#include "board_call.h"
#include "card_dispatch.h"
#include "card_functions.h"
#include "lx/card_type.h"

using namespace lxvideo;

namespace {

LxStatus nonzeroIsSuccess(int32_t, int32_t result) { return statusOfResult(result); }

// The TernCard library answers a failed controller read with the failure's
// nonzero status word, so only its 1 means the buffer was filled.
LxStatus boardInfoStatus(int32_t cardTypeIndex, int32_t result) {
  if (cardTypeIndex == LX_CARD_TYPE_TERNCARD) {
    return result == 1 ? LX_OK : LX_INTERNAL_ERROR;
  }
  return statusOfResult(result);
}

}  // namespace

LX_EXPORT LxStatus LxVideoPresent(LxCardHandle handle, int32_t* present) {
  if (present == nullptr) {
    return LX_PARAMETER_INVALID;
  }
  *present = 0;
  return callBoard<card::VideoPresent>(handle, "VideoPresent", NameForm::PrefixThenName, nonzeroIsSuccess, present);
}

LX_EXPORT LxStatus LxGetBoardInfo(LxCardHandle handle, int kind, void* buffer) {
  // The card library takes the kind as 8 bits: a kind beyond them would be
  // answered as another kind and write bytes the caller did not size for.
  if (buffer == nullptr || kind < 0 || kind > UINT8_MAX) {
    return LX_PARAMETER_INVALID;
  }
  return callBoard<card::GetBoardInfos>(handle, "GetBoardInfos", NameForm::PrefixThenName, boardInfoStatus,
                                        static_cast<uint8_t>(kind), buffer);
}

LX_EXPORT LxStatus LxGetSlotInfo(LxCardHandle handle, void* buffer) {
  if (buffer == nullptr) {
    return LX_PARAMETER_INVALID;
  }
  return callBoard<card::GetSlotInfo>(handle, "GetSlotInfo", NameForm::NameAlone, nonzeroIsSuccess, buffer);
}

LX_EXPORT LxStatus LxGetI2CParam(LxCardHandle handle, uint16_t device, uint8_t subaddress, uint8_t* data, int count) {
  if (data == nullptr) {
    return LX_PARAMETER_INVALID;
  }
  return callBoard<card::I2CParam>(handle, "GetI2CParam", NameForm::NameAlone, nonzeroIsSuccess, device, subaddress,
                                   data, static_cast<int32_t>(count));
}

LX_EXPORT LxStatus LxSetI2CParam(LxCardHandle handle, uint16_t device, uint8_t subaddress, uint8_t* data, int count) {
  if (data == nullptr) {
    return LX_PARAMETER_INVALID;
  }
  return callBoard<card::I2CParam>(handle, "SetI2CParam", NameForm::NameAlone, nonzeroIsSuccess, device, subaddress,
                                   data, static_cast<int32_t>(count));
}

LX_EXPORT LxStatus LxGet32BitParam(LxCardHandle handle, uint16_t reg, int32_t* value) {
  if (value == nullptr) {
    return LX_PARAMETER_INVALID;
  }
  *value = 0;
  return callBoard<card::Get32BitParam>(handle, "Get32BitParam", NameForm::NameAlone, nonzeroIsSuccess,
                                        uint32_t{reg}, reinterpret_cast<uint32_t*>(value));
}

LX_EXPORT LxStatus LxSet32BitParam(LxCardHandle handle, uint16_t reg, int32_t value) {
  return callBoard<card::Set32BitParam>(handle, "Set32BitParam", NameForm::NameAlone, nonzeroIsSuccess,
                                        uint32_t{reg}, static_cast<uint32_t>(value));
}
