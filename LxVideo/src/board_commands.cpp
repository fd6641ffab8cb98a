// Commands and device control of the card's on-board controller. One
// command is the public API's own: the open count of the card.
#include "board_call.h"
#include "card_functions.h"
#include "open_count_map.h"

using namespace lxvideo;

namespace {

constexpr uint32_t kOpenCountCommand = 16;
constexpr int32_t kOpenCountSize = 4;  // *b of the open-count command: the answer's size

LxStatus nonzeroIsSuccess(int32_t, int32_t result) { return statusOfResult(result); }

LxStatus answerOpenCount(LxCardHandle handle, int32_t* a, int32_t b) {
  LockedCard card(handle);
  if (!card) {
    return LX_CARD_HANDLE_INVALID;
  }
  if (b != kOpenCountSize) {
    return LX_INTERNAL_ERROR;
  }
  uint32_t count = 0;
  if (!readOpenCount(card->cardIndex, &count)) {
    return LX_NOT_ENOUGH_SYSTEM_MEMORY;
  }
  *a = static_cast<int32_t>(count);
  return LX_OK;
}

}  // namespace

LX_EXPORT LxStatus LxCommand(LxCardHandle handle, uint32_t command, int32_t* a, int32_t* b) {
  if (a == nullptr || b == nullptr) {
    return LX_PARAMETER_INVALID;
  }
  if (command == kOpenCountCommand) {
    return answerOpenCount(handle, a, *b);
  }
  return callBoard<card::Command>(handle, "Command", NameForm::PrefixThenName, nonzeroIsSuccess, command,
                                  static_cast<void*>(a), reinterpret_cast<uint32_t*>(b));
}

LX_EXPORT LxStatus LxDeviceControl(LxCardHandle handle, uint32_t code, void* input, void* output) {
  if (input == nullptr || output == nullptr) {
    return LX_PARAMETER_INVALID;
  }
  return callBoard<card::DeviceControl>(handle, "DeviceControl", NameForm::PrefixThenName, nonzeroIsSuccess, code,
                                        static_cast<uint8_t*>(input), static_cast<uint32_t*>(output));
}
