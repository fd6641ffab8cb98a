// Video parameter exports: store the parameter, then re-run every routine
// that reads it.
#include "card_handle.h"
#include "lx/terncard.h"
#include "register_access.h"
#include "register_map.h"
#include "running_capture.h"
#include "video_programming.h"

using namespace terncard;

namespace {

enum AdParameterKind : uint8_t {
  kVideoSource = 0,
  kBrightness = 1,
  kContrast = 2,
  kHue = 3,
  kSaturation = 4,
  kSaturationU = 5,
  kSaturationV = 6,
};

// Window values are stored per field: heights (and the input y) halved when positive.
int32_t perField(int32_t value) { return value > 0 ? value / 2 : value; }

void applyWindows(TernCardContext* context) {
  applyScaling(context);
  applyDelays(context);
}

// A window that would leave a zero dimension cannot be programmed (the scale
// ratios divide by it); it is refused before anything is stored.
bool storesZeroDimension(int32_t width, int32_t fieldHeight) {
  return static_cast<uint16_t>(width) == 0 || static_cast<uint16_t>(fieldHeight) == 0;
}

}  // namespace

LX_EXPORT int32_t TernCardSetADParam(uint64_t handle, uint8_t kind, uint8_t value) {
  ValidatedContext context(handle);
  if (!context) {
    return 0;
  }
  switch (kind) {
    case kVideoSource: {
      // An input this board does not have keeps the current selection.
      const uint8_t previous = context->videoSource;
      context->videoSource = value;
      if (!applyInputSelection(context.get())) {
        context->videoSource = previous;
        return 0;
      }
      break;
    }
    case kBrightness:
      context->brightness = value;
      applyBrightness(context.get());
      break;
    case kContrast:
      context->contrast = value;
      applyContrast(context.get());
      break;
    case kHue:
      context->hue = value;
      applyHue(context.get());
      break;
    case kSaturation:
      context->saturation = value;
      applySaturation(context.get());
      break;
    case kSaturationU:
      context->saturationU = value;
      applySaturationU(context.get());
      break;
    case kSaturationV:
      context->saturationV = value;
      applySaturationV(context.get());
      break;
    default:
      break;
  }
  return 1;
}

LX_EXPORT int32_t TernCardDirectSetADParam(uint64_t handle) {
  ValidatedContext context(handle);
  return context ? 1 : 0;
}

LX_EXPORT int32_t TernCardSetInpVideoWindow(uint64_t handle, int32_t x, int32_t y, int32_t width, int32_t height) {
  ValidatedContext context(handle);
  if (!context || storesZeroDimension(width, perField(height))) {
    return 0;
  }
  context->inputX = static_cast<uint16_t>(x);
  context->inputY = static_cast<uint16_t>(perField(y));
  context->inputWidth = static_cast<uint16_t>(width);
  context->inputHeight = static_cast<uint16_t>(perField(height));
  applyWindows(context.get());
  return 1;
}

LX_EXPORT int32_t TernCardSetDispWindow(uint64_t handle, int32_t x, int32_t y, int32_t width, int32_t height) {
  ValidatedContext context(handle);
  if (!context || storesZeroDimension(width, perField(height))) {
    return 0;
  }
  context->outputX = static_cast<uint16_t>(x);
  context->outputY = static_cast<uint16_t>(y);
  context->outputWidth = static_cast<uint16_t>(width);
  context->outputHeight = static_cast<uint16_t>(perField(height));
  applyWindows(context.get());
  // Live capture goes on in the new window; the window is kept even when
  // its program cannot be built.
  if (context->capturing != 0 && !rebuildRunningCapture(context.get())) {
    return 0;
  }
  return 1;
}

LX_EXPORT int32_t TernCardSetVideoStandard(uint64_t handle, uint16_t standard) {
  ValidatedContext context(handle);
  if (!context) {
    return 0;
  }
  context->videoStandard = standard;
  applyStandard(context.get());
  applyWindows(context.get());
  return 1;
}

LX_EXPORT int32_t TernCardSetPLLFreqParam(uint64_t handle, uint8_t value) {
  ValidatedContext context(handle);
  if (!context) {
    return 0;
  }
  context->pllParam = value;
  applySamplingClock(context.get());
  return 1;
}

LX_EXPORT int32_t TernCardSetDelay(uint64_t handle, uint16_t x, uint16_t y) {
  ValidatedContext context(handle);
  if (!context) {
    return 0;
  }
  context->delayX = x;
  context->delayY = static_cast<uint16_t>(y >> 1);
  applyDelays(context.get());
  return 1;
}

LX_EXPORT int32_t TernCardSetDispMode(uint64_t handle, int32_t mode) {
  ValidatedContext context(handle);
  if (!context) {
    return 0;
  }
  context->scanMode = mode;
  applyScanMode(context.get());
  applyScaling(context.get());
  return 1;
}

LX_EXPORT int32_t TernCardSetColorSpace(uint64_t handle, uint8_t code) {
  ValidatedContext context(handle);
  if (!context || code >= kPixelFormatCount) {
    return 0;
  }
  context->pixelFormat = code;
  applyPixelFormat(context.get());
  return 1;
}

LX_EXPORT int32_t TernCardSetVideoDecimation(uint64_t handle, uint8_t value) {
  ValidatedContext context(handle);
  // The decimation field has 6 bits; a wider value would spill into bits 6-7.
  if (!context || value > 0x3F) {
    return 0;
  }
  context->decimation = value;
  applyDecimation(context.get());
  return 1;
}

LX_EXPORT int32_t TernCardVideoPresent(uint64_t handle, int32_t* present) {
  ValidatedContext context(handle);
  if (!context || present == nullptr) {
    return 0;
  }
  // A card that does not answer (removed, stopped) is not a card without
  // a signal: the caller learns that the question failed.
  uint32_t status = 0;
  if (!tryReadRegister(context.get(), REG_VIDEO_STATUS, &status)) {
    return 0;
  }
  *present = (status & kVideoSignalPresent) != 0 ? 1 : 0;
  return 1;
}
