#include "scaling_math.h"

namespace terncard {

namespace {

// Horizontal scale values of the exact ratios 1, 2, 4 and 8.
struct ExactHorizontalScale {
  float ratio;
  int32_t pal;
  int32_t ntsc;
};
constexpr ExactHorizontalScale kExactHorizontal[] = {
    {1.0f, 828, 682},
    {2.0f, 5753, 5461},
    {4.0f, 15602, 15018},
    {8.0f, 35301, 34330},
};

struct ExactVerticalScale {
  float ratio;
  int32_t value;
};
constexpr ExactVerticalScale kExactVertical[] = {
    {1.0f, 0},
    {2.0f, 0x1E00},
    {4.0f, 0x1A00},
    {8.0f, 0x1200},
};

constexpr float kPalSampling = 1.2005209f;
constexpr float kNtscSampling = 1.178125f;

int32_t horizontalScale(float rx, bool ntsc) {
  for (const auto& exact : kExactHorizontal) {
    if (rx == exact.ratio) {
      return ntsc ? exact.ntsc : exact.pal;
    }
  }
  const float sampling = ntsc ? kNtscSampling : kPalSampling;
  return static_cast<int32_t>((rx * sampling - 1.0f) * 4096.0f);
}

int32_t verticalScale(float ry) {
  for (const auto& exact : kExactVertical) {
    if (ry == exact.ratio) {
      return exact.value;
    }
  }
  return static_cast<int32_t>(65536.0f - (ry - 1.0f) * 512.0f) & 0x1FFF;
}

}  // namespace

ScaleFactors computeScaleFactors(const WindowGeometry& g) {
  const float rx = static_cast<float>(g.inputWidth) / static_cast<float>(g.outputWidth);
  const float ry = static_cast<float>(g.inputHeight) / static_cast<float>(g.outputHeight);
  return {horizontalScale(rx, g.ntsc), verticalScale(ry)};
}

DelayValues computeDelays(const WindowGeometry& g) {
  const float rx = static_cast<float>(g.inputWidth) / static_cast<float>(g.outputWidth);
  const bool unscaled = rx == 1.0f;
  int32_t c;
  int32_t d;
  if (g.ntsc) {
    c = 26;
    d = unscaled ? 114 : static_cast<int32_t>(g.outputWidth * 0.1790451) & 0x3FE;
  } else {
    c = 32;
    // 64-bit: the product overflows 32 bits for the widest stored windows.
    d = unscaled ? 154
                 : static_cast<int32_t>((int64_t{g.outputWidth} * 186 * 768) / (int64_t{g.inputWidth} * 922));
  }
  const int32_t d2 = madeEven(d);
  const int32_t offsetX = int32_t{g.delayX} + int32_t{g.inputX};
  const int32_t e = unscaled ? d2 + offsetX : madeEven(d2 - offsetX * -763 / 922);
  const int32_t f = c + 2 * (int32_t{g.delayY} + int32_t{g.inputY});
  return {d, e, f};
}

uint8_t derivedSaturationV(uint8_t saturation) {
  return static_cast<uint8_t>(static_cast<int32_t>(saturation * 0.3937008 / 0.5555556 + 0.5));
}

}  // namespace terncard
