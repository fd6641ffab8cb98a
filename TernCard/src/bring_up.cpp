// Bring-up and release of a card: open the driver, reset the card, load the
// initial register table, check that the card answers, fill the context with
// the default parameters and program them.
#include <cstring>

#include "card_device.h"
#include "card_handle.h"
#include "dma_control.h"
#include "i2c_bus.h"
#include "lx/hmbseapi.h"
#include "lx/terncard.h"
#include "process_display.h"
#include "register_access.h"
#include "register_map.h"
#include "video_programming.h"

using namespace terncard;

namespace {

enum BeginFailure : uint64_t {
  kNoCard = 1,
  kNoAnswer = 2,
  kNoMemory = 3,
  kNoScreen = 4,
};

constexpr uint32_t kProgramBufferBytes = 0x8000;
constexpr uint32_t kAudioResetPulse = 0x80;

// Owns what a bring-up has acquired until the card is handed out, and gives
// it all back on a failure.
class BringUp {
 public:
  ~BringUp() {
    if (programHeld_) {
      HmbDynamicMemFree(&context_->programBuffer);
    }
    if (device_ != nullptr) {
      CloseHandle(device_);
    }
    if (context_ != nullptr) {
      GlobalUnlock(block_);
    }
    if (block_ != nullptr) {
      GlobalFree(block_);
    }
  }

  bool openDevice(int32_t cardNumber) {
    device_ = cardNumber >= 1 ? OpenCardDevice(static_cast<uint32_t>(cardNumber - 1)) : nullptr;
    return device_ != nullptr;
  }

  bool allocateContext() {
    block_ = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(TernCardContext));
    if (block_ == nullptr) {
      return false;
    }
    context_ = static_cast<TernCardContext*>(GlobalLock(block_));
    if (context_ == nullptr) {
      return false;
    }
    context_->device = reinterpret_cast<uintptr_t>(device_);
    return true;
  }

  // A success that brings back no mapping is no buffer.
  bool allocateProgramBuffer() {
    context_->programAllocated = 0;
    context_->programBuffer.Size = kProgramBufferBytes;
    const bool allocated = HmbDynamicMemAlloc(&context_->programBuffer) != 0;
    if (!allocated) {
      return false;
    }
    programHeld_ = true;
    if (context_->programBuffer.UserAddress == 0) {
      return false;
    }
    context_->programAllocated = 1;
    return true;
  }

  TernCardContext* context() const { return context_; }

  // Hands the card out: nothing is released any more.
  uint64_t release() {
    context_->kindTag = kContextTag;
    GlobalUnlock(block_);
    const uint64_t handle = handleOf(block_);
    block_ = nullptr;
    context_ = nullptr;
    device_ = nullptr;
    programHeld_ = false;
    return handle;
  }

 private:
  HANDLE device_ = nullptr;
  HGLOBAL block_ = nullptr;
  TernCardContext* context_ = nullptr;
  bool programHeld_ = false;
};

void loadInitialRegisters(TernCardContext* context) {
  for (int k = 0; k < kTableRegisterCount; ++k) {
    context->registerShadow[k] = initialRegisterTable[k];
    // The reset register was written on its own just before.
    if (k != shadowCellOf(REG_RESET)) {
      RegWrite(context, static_cast<uint16_t>(4 * k), &context->registerShadow[k]);
    }
  }
}

bool cardAnswers(TernCardContext* context) {
  return readRegister(context, REG_PIXEL_FORMAT) == context->registerShadow[shadowCellOf(REG_PIXEL_FORMAT)];
}

bool readBoardRevisionFlag(TernCardContext* context) {
  uint8_t revision = 0;
  return I2cRead(context, kControllerAddress, kSubRevision, &revision, 1) == 0 && (revision >> 4) == 2;
}

void setDefaults(TernCardContext* context, const ProcessDisplay& display) {
  context->reserved2 = 976;
  context->displayAddress = display.info.FrameBufferAddress;
  context->videoStandard = 0;
  context->pllParam = 245;
  context->decimation = 0;
  context->videoSource = 0;
  context->brightness = 128;
  context->contrast = 128;
  context->hue = 128;
  context->saturation = 128;
  context->saturationU = 128;
  context->saturationV = 91;
  context->scanMode = 0;
  context->inputWidth = 768;
  context->inputHeight = 288;
  context->outputWidth = 640;
  context->outputHeight = 240;
}

// Pixel format that matches the display depth.
void choosePixelFormat(TernCardContext* context, uint32_t displayBits) {
  switch (displayBits) {
    case 8: context->pixelFormat = 6; break;
    case 15: context->pixelFormat = 3; break;
    case 16: context->pixelFormat = 2; break;
    case 24: context->pixelFormat = 1; break;
    case 32: context->pixelFormat = 4; break;
    default:
      context->pixelFormat = 2;
      context->bitsPerPixel = 16;
      break;
  }
}

void programDefaults(TernCardContext* context) {
  applyStandard(context);
  applySamplingClock(context);
  applyClocks(context);
  applyInputSelection(context);
  applyPixelFormat(context);
  applyScanMode(context);
  applyDelays(context);
  applyScaling(context);
  applyBrightness(context);
  applyContrast(context);
  applyHue(context);
  applySaturation(context);
  applyAudioRange(context);
}

}  // namespace

LX_EXPORT uint64_t BeginTernCard(int32_t cardNumber) {
  BringUp card;
  if (!card.openDevice(cardNumber)) {
    return kNoCard;
  }
  const ProcessDisplay& display = processDisplay();
  if (!card.allocateContext()) {
    return kNoMemory;
  }
  TernCardContext* context = card.context();
  writeRegister(context, REG_RESET, 0);
  loadInitialRegisters(context);
  if (!cardAnswers(context)) {
    return kNoAnswer;
  }
  writeRegister(context, REG_AUDIO_RESET, kAudioResetPulse);
  writeRegister(context, REG_AUDIO_RESET, 0);
  context->cardNumber = static_cast<uint16_t>(cardNumber);
  context->boardRevisionFlag = readBoardRevisionFlag(context) ? 1 : 0;
  setDefaults(context, display);
  if (!card.allocateProgramBuffer()) {
    return kNoMemory;
  }
  ScreenMetrics screen{};
  if (!readScreenMetrics(&screen)) {
    return kNoScreen;
  }
  storeScreenSize({screen.width, screen.height});
  context->bitsPerPixel = screen.bitsPerPixel;
  choosePixelFormat(context, display.info.BitsPerPixel);
  programDefaults(context);
  return card.release();
}

LX_EXPORT int32_t EndTernCard(uint64_t handle) {
  if (isRejectedHandle(handle)) {
    return 0;
  }
  HGLOBAL block = contextBlockOf(handle);
  auto* context = lockContextBlock(block);
  if (context == nullptr) {
    return 0;
  }
  if (context->device != 0) {
    // A ring left running would go on fetching its program from the freed
    // buffer, which the service hands to the next allocation.
    StopDma(context);
    if (context->programAllocated != 0) {
      HmbDynamicMemFree(&context->programBuffer);
    }
    CloseHandle(deviceHandleOf(context));
  }
  context->kindTag = 0;
  GlobalUnlock(block);
  GlobalFree(block);
  return 1;
}
