// Video parameter operations: argument checks, then one card-library call.
#include "card_dispatch.h"
#include "card_functions.h"
#include "card_type_rules.h"
#include "frame_layout.h"
#include "lx/video_types.h"

using namespace lxvideo;

namespace {

constexpr int32_t kMostWidth = 768;
constexpr int32_t kMostHeight = 576;

bool isWindow(int x, int y, int width, int height) {
  return x >= 0 && y >= 0 && width >= 4 && width <= kMostWidth && height >= 2 && height <= kMostHeight;
}

bool snapping(const LxCardRecord* record) {
  const int32_t state = cardState(record);
  return state == LX_CAPTURE_STATE_SNAP || state == LX_CAPTURE_STATE_SNAP_EX;
}

bool capturing(const LxCardRecord* record) {
  const int32_t state = cardState(record);
  return state == LX_CAPTURE_STATE_CAPTURE || state == LX_CAPTURE_STATE_CAPTURE_EX;
}

// During live capture the output window must stay on the screen.
bool fitsScreen(const LxCardRecord* record, int x, int y, int width, int height) {
  const int64_t shownLines = record->scanMode == LX_SCAN_MODE_FRAME ? height : height / 2;
  return int64_t{x} + width <= record->screenWidth && int64_t{y} + shownLines <= record->screenHeight;
}

enum class StateRule { Any, IdleOnly };

// Lock, state rule, bind by "prefix + name", call, update the record on
// success (while it is still locked), unlock.
template <typename Function, typename OnSuccess, typename... Args>
LxStatus callCardThen(LxCardHandle handle, StateRule rule, const char* name, OnSuccess onSuccess, Args... args) {
  LockedCard card(handle);
  if (!card) {
    return LX_CARD_HANDLE_INVALID;
  }
  if (rule == StateRule::IdleOnly && !card.idle()) {
    return LX_IN_WORK;
  }
  Function function = nullptr;
  LxStatus status = card.bind(name, NameForm::PrefixThenName, &function);
  if (status != LX_OK) {
    return status;
  }
  status = statusOfResult(function(card->context, args...));
  if (status == LX_OK) {
    onSuccess(*card.get());
  }
  return status;
}

template <typename Function, typename... Args>
LxStatus callCard(LxCardHandle handle, StateRule rule, const char* name, Args... args) {
  return callCardThen<Function>(handle, rule, name, [](LxCardRecord&) {}, args...);
}

// The same for the operations where only a result of exactly 1 is success.
template <typename Function, typename... Args>
LxStatus callCardExactlyOne(LxCardHandle handle, const char* name, Args... args) {
  LockedCard card(handle);
  if (!card) {
    return LX_CARD_HANDLE_INVALID;
  }
  Function function = nullptr;
  const LxStatus status = card.bind(name, NameForm::PrefixThenName, &function);
  if (status != LX_OK) {
    return status;
  }
  return function(card->context, args...) == 1 ? LX_OK : LX_INTERNAL_ERROR;
}

constexpr uint8_t kAdVideoSource = 0;

}  // namespace

LX_EXPORT LxStatus LxSetVideoSource(LxCardHandle handle, LxVideoSource source) {
  LockedCard card(handle);
  if (!card) {
    return LX_CARD_HANDLE_INVALID;
  }
  uint8_t code = 0;
  if (!videoSourceCode(card->cardTypeIndex, source, &code)) {
    return LX_PARAMETER_INVALID;
  }
  card::SetADParam setADParam = nullptr;
  const LxStatus status = card.bind("SetADParam", NameForm::PrefixThenName, &setADParam);
  if (status != LX_OK) {
    return status;
  }
  return statusOfResult(setADParam(card->context, kAdVideoSource, code));
}

LX_EXPORT LxStatus LxSetVideoStandard(LxCardHandle handle, int standard) {
  if (standard != LX_VIDEO_STANDARD_PAL && standard != LX_VIDEO_STANDARD_NTSC) {
    return LX_PARAMETER_OUT_OF_BOUND;
  }
  return callCard<card::SetVideoStandard>(handle, StateRule::IdleOnly, "SetVideoStandard",
                                          static_cast<uint16_t>(standard));
}

LX_EXPORT LxStatus LxSetVideoFormat(LxCardHandle handle, int format) {
  if (static_cast<unsigned>(format) >= LX_VIDEO_FORMAT_COUNT) {
    return LX_PARAMETER_OUT_OF_BOUND;
  }
  return callCardThen<card::SetColorSpace>(
      handle, StateRule::IdleOnly, "SetColorSpace",
      [format](LxCardRecord& record) { record.bytesPerPixel = LxBytesPerPixel(format); }, static_cast<uint8_t>(format));
}

LX_EXPORT LxStatus LxSetScanMode(LxCardHandle handle, uint32_t mode) {
  if (mode > LX_SCAN_MODE_FIELD1) {
    return LX_PARAMETER_OUT_OF_BOUND;
  }
  return callCardThen<card::SetDispMode>(
      handle, StateRule::IdleOnly, "SetDispMode",
      [mode](LxCardRecord& record) { record.scanMode = static_cast<int32_t>(mode); }, static_cast<int32_t>(mode));
}

LX_EXPORT LxStatus LxSetInputWindow(LxCardHandle handle, int x, int y, int width, int height) {
  if (!isWindow(x, y, width, height)) {
    return LX_PARAMETER_INVALID;
  }
  LockedCard card(handle);
  if (!card) {
    return LX_CARD_HANDLE_INVALID;
  }
  if (snapping(card.get())) {
    return LX_IN_WORK;
  }
  card::SetWindow setWindow = nullptr;
  const LxStatus status = card.bind("SetInpVideoWindow", NameForm::PrefixThenName, &setWindow);
  if (status != LX_OK) {
    return status;
  }
  return statusOfResult(setWindow(card->context, x, y, width, height));
}

LX_EXPORT LxStatus LxSetOutputWindow(LxCardHandle handle, int x, int y, int width, int height) {
  if (!isWindow(x, y, width, height)) {
    return LX_PARAMETER_INVALID;
  }
  LockedCard card(handle);
  if (!card) {
    return LX_CARD_HANDLE_INVALID;
  }
  if (snapping(card.get())) {
    return LX_IN_WORK;
  }
  if (capturing(card.get()) && !fitsScreen(card.get(), x, y, width, height)) {
    return LX_PARAMETER_INVALID;
  }
  card::SetWindow setWindow = nullptr;
  LxStatus status = card.bind("SetDispWindow", NameForm::PrefixThenName, &setWindow);
  if (status != LX_OK) {
    return status;
  }
  status = statusOfResult(setWindow(card->context, x, y, width, height));
  if (status == LX_OK) {
    card->outputX = x;
    card->outputY = y;
    card->outputWidth = width;
    card->outputFieldHeight = fieldLinesOf(height);
  }
  return status;
}

LX_EXPORT LxStatus LxAdjustVideo(LxCardHandle handle, uint32_t kind, uint8_t value) {
  if (kind < 1 || kind > 4) {
    return LX_PARAMETER_INVALID;
  }
  return callCard<card::SetADParam>(handle, StateRule::Any, "SetADParam", static_cast<uint8_t>(kind), value);
}

LX_EXPORT LxStatus LxSetDelay(LxCardHandle handle, uint16_t xDelay, uint16_t yDelay) {
  return callCard<card::SetDelay>(handle, StateRule::Any, "SetDelay", xDelay, yDelay);
}

LX_EXPORT LxStatus LxSetPLLFrequency(LxCardHandle handle, uint8_t frequency) {
  return callCard<card::SetPLLFreqParam>(handle, StateRule::Any, "SetPLLFreqParam", frequency);
}

LX_EXPORT LxStatus LxSelectCryOSC(LxCardHandle handle, int oscillator) {
  if (oscillator != 0 && oscillator != 1) {
    return LX_PARAMETER_INVALID;
  }
  return callCard<card::SelectCryOSC>(handle, StateRule::Any, "SelectCryOSC", static_cast<uint8_t>(oscillator));
}

LX_EXPORT LxStatus LxEnableVideoMirror(LxCardHandle handle, int direction, int32_t enable) {
  if (direction != 0 && direction != 1) {
    return LX_PARAMETER_INVALID;
  }
  return callCard<card::EnableVideoMirror>(handle, StateRule::Any, "EnableVideoMirror",
                                           static_cast<uint8_t>(direction), enable);
}

LX_EXPORT LxStatus LxSetVideoExtOutput(LxCardHandle handle, uint32_t output, uint16_t value) {
  if (output > 3) {
    return LX_PARAMETER_INVALID;
  }
  return callCard<card::SetVideoOutput>(handle, StateRule::Any, "SetVideoOutput", static_cast<uint8_t>(output),
                                        value);
}

LX_EXPORT LxStatus LxLumaControl(LxCardHandle handle, uint8_t kind, uint8_t value) {
  return callCard<card::LumaControl>(handle, StateRule::Any, "LumaControl", kind, value);
}

LX_EXPORT LxStatus LxGammaCorrControl(LxCardHandle handle, uint8_t enable) {
  return callCard<card::GammaCorrControl>(handle, StateRule::Any, "GammaCorrControl", enable);
}

LX_EXPORT LxStatus LxSetGammaCorrCoef(LxCardHandle handle, void* coefficients) {
  if (coefficients == nullptr) {
    return LX_PARAMETER_INVALID;
  }
  return callCard<card::SetGammaCorrCoef>(handle, StateRule::Any, "SetGammaCorrCoef", coefficients);
}

LX_EXPORT LxStatus LxLoadCFGFile(LxCardHandle handle, const char* file) {
  if (file == nullptr) {
    return LX_PARAMETER_INVALID;
  }
  return callCard<card::LoadCFGFile>(handle, StateRule::Any, "LoadCFGFile", file);
}

LX_EXPORT LxStatus LxReadSCMParam(LxCardHandle handle, void* block) {
  if (block == nullptr) {
    return LX_PARAMETER_INVALID;
  }
  return callCardExactlyOne<card::ReadSCMParam>(handle, "ReadSCMParam", block);
}

LX_EXPORT LxStatus LxWriteSCMParam(LxCardHandle handle, void* block, uint8_t value) {
  if (block == nullptr) {
    return LX_PARAMETER_INVALID;
  }
  return callCardExactlyOne<card::WriteSCMParam>(handle, "WriteSCMParam", block, value);
}
