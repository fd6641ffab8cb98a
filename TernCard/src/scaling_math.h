// The decoder's scale factors and delays, computed from the stored windows.
// Pure functions of the parameters, so each can be checked on its own.
#pragma once

#include <cstdint>

namespace terncard {

struct ScaleFactors {
  int32_t horizontal;  // written as 16 bits (a negative value keeps its two's-complement bits)
  int32_t vertical;    // 13 bits
};

struct DelayValues {
  int32_t horizontalBase;  // d, before it is made even
  int32_t horizontal;      // e
  int32_t vertical;        // f
};

// Windows as the context stores them: input and output height per field.
struct WindowGeometry {
  bool ntsc;
  uint16_t inputX;
  uint16_t inputY;
  uint16_t inputWidth;
  uint16_t inputHeight;
  uint16_t outputWidth;
  uint16_t outputHeight;
  uint16_t delayX;
  uint16_t delayY;
};

// Ratios and factors are computed in single precision. Every dimension must
// be nonzero (the ratios divide by them).
ScaleFactors computeScaleFactors(const WindowGeometry& geometry);
// Needs inputWidth and outputWidth nonzero.
DelayValues computeDelays(const WindowGeometry& geometry);

// saturationV derived from the saturation setting (128 gives 91).
uint8_t derivedSaturationV(uint8_t saturation);

// A signed value made even by halving and doubling (truncating toward zero).
constexpr int32_t madeEven(int32_t value) { return (value / 2) * 2; }

}  // namespace terncard
