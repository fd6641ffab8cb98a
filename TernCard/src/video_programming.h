// Routines that turn the video parameters stored in the context into
// register fields. Each reads what it needs from the context and writes
// through RegSetField, so the shadow copy follows.
#pragma once

#include <cstdint>

#include "lx/internal/tern_card_context.h"

namespace terncard {

// Pixel formats: REG_PIXEL_FORMAT value, bits per pixel, range bit.
struct PixelFormatEntry {
  uint8_t registerValue;
  int32_t bitsPerPixel;
  bool fullRange;  // REG_PIXEL_OPTIONS bit 7
};
inline constexpr int kPixelFormatCount = 7;
inline constexpr PixelFormatEntry kPixelFormats[kPixelFormatCount] = {
    {0x44, 16, true},  // YUV422
    {0x11, 24, true},  // RGB888
    {0x22, 16, true},  // RGB565
    {0x33, 16, true},  // RGB555
    {0x00, 32, true},  // RGB8888
    {0x66, 8, true},   // 8-bit grey, full range
    {0x66, 8, false},  // 8-bit grey, limited range
};

// Input multiplexer of an input selection code.
struct InputRoute {
  uint32_t multiplexer;
  bool separateChroma;
};
// false for a code the board has no input for.
bool routeOfInput(uint8_t videoSource, bool boardHasSignature, InputRoute* route);

void applyStandard(TernCardContext* context);
void applyClocks(TernCardContext* context);  // ends with the standard again
void applySamplingClock(TernCardContext* context);
void applyDecimation(TernCardContext* context);
// Reads the board signature again; false (nothing written) for an input
// selection code that this board does not have.
bool applyInputSelection(TernCardContext* context);
// false (nothing written) for a code outside 0..6.
bool applyPixelFormat(TernCardContext* context);
void applyScanMode(TernCardContext* context);
// Both skip the windows (and return false) when a dimension they divide by is 0.
bool applyScaling(TernCardContext* context);
bool applyDelays(TernCardContext* context);
void applyBrightness(TernCardContext* context);
void applyContrast(TernCardContext* context);
void applyHue(TernCardContext* context);
void applySaturationU(TernCardContext* context);
void applySaturationV(TernCardContext* context);
// saturationU = saturation, saturationV derived from it, then both routines.
void applySaturation(TernCardContext* context);
// General-purpose lines 2 and 3 become outputs and carry audioRange.
void applyAudioRange(TernCardContext* context);

}  // namespace terncard
