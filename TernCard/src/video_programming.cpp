#include "video_programming.h"

#include <iterator>

#include "i2c_bus.h"
#include "register_access.h"
#include "register_map.h"
#include "scaling_math.h"

namespace terncard {

namespace {

constexpr uint32_t kStandardMask = 0x07;
constexpr uint32_t kStandardNtsc = 1;
constexpr uint32_t kStandardPal = 3;
constexpr uint32_t kMultiplexerMask = 0x60;
constexpr uint32_t kMultiplexerShift = 5;
constexpr uint32_t kSyncFieldMask = 0x18;
constexpr uint32_t kSyncFieldShift = 3;

constexpr uint16_t kGeometrySets[] = {0, kSetB};

bool isNtsc(const TernCardContext* context) { return context->videoStandard != 0; }

void setByte(TernCardContext* context, uint16_t offset, uint32_t value) {
  RegSetField(context, offset, 0xFF, value & 0xFF, 0);
}

void setBit(TernCardContext* context, uint16_t offset, uint32_t bit, bool on) {
  RegSetField(context, offset, 1u << bit, on ? 1 : 0, bit);
}

// Bits 9-8 of a 10-bit value into a two-bit field of REG_HIGH_BITS.
void setHighBits(TernCardContext* context, uint16_t set, uint32_t shift, int32_t value) {
  RegSetField(context, REG_HIGH_BITS_A + set, 0x3u << shift, (static_cast<uint32_t>(value) >> 8) & 0x3, shift);
}

// A 9-bit picture value: bits 7-0 into its register, bit 8 into both
// control registers.
void setNineBitValue(TernCardContext* context, uint16_t offset, uint32_t controlBit, uint32_t value) {
  setByte(context, offset, value);
  for (uint16_t set : kGeometrySets) {
    setBit(context, REG_CONTROL_A + set, controlBit, ((value >> 8) & 1) != 0);
  }
}

WindowGeometry geometryOf(const TernCardContext* context) {
  return {isNtsc(context),       context->inputX,      context->inputY,
          context->inputWidth,   context->inputHeight, context->outputWidth,
          context->outputHeight, context->delayX,      context->delayY};
}

}  // namespace

bool routeOfInput(uint8_t videoSource, bool boardHasSignature, InputRoute* route) {
  static constexpr InputRoute kWithSignature[] = {{3, false}, {1, false}, {0, true}};
  static constexpr InputRoute kWithoutSignature[] = {{2, false}, {3, false}, {1, false}, {0, true}, {0, false}};
  if (boardHasSignature) {
    if (videoSource >= std::size(kWithSignature)) {
      return false;
    }
    *route = kWithSignature[videoSource];
  } else {
    if (videoSource >= std::size(kWithoutSignature)) {
      return false;
    }
    *route = kWithoutSignature[videoSource];
  }
  return true;
}

void applyStandard(TernCardContext* context) {
  const bool ntsc = isNtsc(context);
  const bool revised = context->boardRevisionFlag != 0;
  RegSetField(context, REG_INPUT_FORMAT, kStandardMask, ntsc ? kStandardNtsc : kStandardPal, 0);
  setByte(context, REG_TIMING_1, ntsc ? 112 : 135);
  setByte(context, REG_TIMING_2, ntsc ? 93 : 120);
  RegSetField(context, REG_SYNC_CONTROL, kSyncFieldMask, ntsc != revised ? 1 : 0, kSyncFieldShift);
}

void applyClocks(TernCardContext* context) {
  const bool revised = context->boardRevisionFlag != 0;
  setByte(context, REG_CLOCK_2, revised ? 220 : 175);
  setByte(context, REG_CLOCK_3, revised ? 142 : 137);
  applyStandard(context);
}

void applySamplingClock(TernCardContext* context) { setByte(context, REG_CLOCK_1, context->pllParam); }

void applyDecimation(TernCardContext* context) { RegSetField(context, REG_DECIMATION, 0x3F, context->decimation & 0x3F, 0); }

bool applyInputSelection(TernCardContext* context) {
  InputRoute route{};
  if (!routeOfInput(context->videoSource, boardHasSignature(context), &route)) {
    return false;
  }
  RegSetField(context, REG_INPUT_FORMAT, kMultiplexerMask, route.multiplexer, kMultiplexerShift);
  setBit(context, REG_CONTROL_A, 6, route.separateChroma);
  setBit(context, REG_CONTROL_A + kSetB, 6, route.separateChroma);
  setBit(context, REG_SOURCE_CONTROL, 1, !route.separateChroma);
  return true;
}

bool applyPixelFormat(TernCardContext* context) {
  if (context->pixelFormat >= kPixelFormatCount) {
    return false;
  }
  const PixelFormatEntry& format = kPixelFormats[context->pixelFormat];
  setBit(context, REG_PIXEL_OPTIONS, 7, format.fullRange);
  setByte(context, REG_PIXEL_FORMAT, format.registerValue);
  context->bitsPerPixel = format.bitsPerPixel;
  return true;
}

void applyScanMode(TernCardContext* context) {
  for (uint16_t set : kGeometrySets) {
    setBit(context, REG_VSCALE_HI_A + set, 7, context->scanMode != 0);
    setBit(context, REG_VSCALE_HI_A + set, 5, context->scanMode == 0);
  }
}

bool applyScaling(TernCardContext* context) {
  const WindowGeometry geometry = geometryOf(context);
  if (geometry.outputWidth == 0 || geometry.outputHeight == 0) {
    return false;
  }
  const ScaleFactors scale = computeScaleFactors(geometry);
  const int32_t activeHeight = 2 * int32_t{context->inputHeight};
  const int32_t activeWidth = context->outputWidth;
  const uint32_t h = static_cast<uint32_t>(scale.horizontal);
  const uint32_t v = static_cast<uint32_t>(scale.vertical);
  for (uint16_t set : kGeometrySets) {
    setHighBits(context, set, 4, activeHeight);
    setByte(context, REG_VACTIVE_A + set, static_cast<uint32_t>(activeHeight));
    setHighBits(context, set, 0, activeWidth);
    setByte(context, REG_HACTIVE_A + set, static_cast<uint32_t>(activeWidth));
    setByte(context, REG_HSCALE_HI_A + set, h >> 8);
    setByte(context, REG_HSCALE_LO_A + set, h);
    RegSetField(context, REG_VSCALE_HI_A + set, 0x1F, (v >> 8) & 0x1F, 0);
    setByte(context, REG_VSCALE_LO_A + set, v);
  }
  return true;
}

bool applyDelays(TernCardContext* context) {
  const WindowGeometry geometry = geometryOf(context);
  if (geometry.outputWidth == 0 || geometry.inputWidth == 0) {
    return false;
  }
  const DelayValues delays = computeDelays(geometry);
  for (uint16_t set : kGeometrySets) {
    setHighBits(context, set, 6, delays.vertical);
    setByte(context, REG_VDELAY_A + set, static_cast<uint32_t>(delays.vertical));
    setHighBits(context, set, 2, delays.horizontal);
    setByte(context, REG_HDELAY_A + set, static_cast<uint32_t>(delays.horizontal));
  }
  return true;
}

void applyBrightness(TernCardContext* context) {
  setByte(context, REG_BRIGHTNESS, static_cast<uint32_t>(int32_t{context->brightness} - 128));
}

void applyHue(TernCardContext* context) { setByte(context, REG_HUE, static_cast<uint32_t>(int32_t{context->hue} - 128)); }

void applyContrast(TernCardContext* context) { setNineBitValue(context, REG_CONTRAST, 2, 2u * context->contrast); }

void applySaturationU(TernCardContext* context) { setNineBitValue(context, REG_SAT_U, 1, 2u * context->saturationU); }

void applySaturationV(TernCardContext* context) { setNineBitValue(context, REG_SAT_V, 0, 2u * context->saturationV); }

void applySaturation(TernCardContext* context) {
  context->saturationU = context->saturation;
  context->saturationV = derivedSaturationV(context->saturation);
  applySaturationU(context);
  applySaturationV(context);
}

void applyAudioRange(TernCardContext* context) {
  RegSetField(context, REG_GPIO_ENABLE, 0x0C, 3, 2);
  RegSetFieldInCell(context, REG_GPIO_DATA, &context->registerShadow[kGpioDataShadowCell], 0x0C,
                    context->audioRange & 0x3u, 2);
}

}  // namespace terncard
