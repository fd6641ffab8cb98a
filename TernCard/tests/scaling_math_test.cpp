// Scale factors and delays of the stored windows, without a card.
#include <gtest/gtest.h>

#include "scaling_math.h"

namespace terncard {
namespace {

WindowGeometry pal(uint16_t inputWidth, uint16_t inputHeight, uint16_t outputWidth, uint16_t outputHeight) {
  return {false, 0, 0, inputWidth, inputHeight, outputWidth, outputHeight, 0, 0};
}

WindowGeometry ntsc(uint16_t inputWidth, uint16_t inputHeight, uint16_t outputWidth, uint16_t outputHeight) {
  WindowGeometry g = pal(inputWidth, inputHeight, outputWidth, outputHeight);
  g.ntsc = true;
  return g;
}

TEST(ScalingMath, WorkedExamples) {
  // PAL 768 x 576 in and out (288 lines per field).
  ScaleFactors s = computeScaleFactors(pal(768, 288, 768, 288));
  EXPECT_EQ(s.horizontal, 828);
  EXPECT_EQ(s.vertical, 0);
  DelayValues d = computeDelays(pal(768, 288, 768, 288));
  EXPECT_EQ(d.horizontalBase, 154);
  EXPECT_EQ(d.horizontal, 154);
  EXPECT_EQ(d.vertical, 32);

  // NTSC 640 x 480 down to 320 x 240.
  s = computeScaleFactors(ntsc(640, 240, 320, 120));
  EXPECT_EQ(s.horizontal, 5461);
  EXPECT_EQ(s.vertical, 0x1E00);
  d = computeDelays(ntsc(640, 240, 320, 120));
  EXPECT_EQ(d.horizontalBase, 56);
  EXPECT_EQ(d.horizontal, 56);
  EXPECT_EQ(d.vertical, 26);

  // PAL 768 down to 384: d = 77, made even 76.
  s = computeScaleFactors(pal(768, 288, 384, 288));
  EXPECT_EQ(s.horizontal, 5753);
  d = computeDelays(pal(768, 288, 384, 288));
  EXPECT_EQ(d.horizontalBase, 77);
  EXPECT_EQ(d.horizontal, 76);
}

TEST(ScalingMath, ExactRatiosUseTheirTableValues) {
  const int32_t palValues[] = {828, 5753, 15602, 35301};
  const int32_t ntscValues[] = {682, 5461, 15018, 34330};
  const int32_t verticalValues[] = {0, 0x1E00, 0x1A00, 0x1200};
  for (int k = 0; k < 4; ++k) {
    const uint16_t out = static_cast<uint16_t>(768 >> k);
    const uint16_t lines = static_cast<uint16_t>(288 >> k);
    EXPECT_EQ(computeScaleFactors(pal(768, 288, out, lines)).horizontal, palValues[k]);
    EXPECT_EQ(computeScaleFactors(ntsc(768, 288, out, lines)).horizontal, ntscValues[k]);
    EXPECT_EQ(computeScaleFactors(pal(768, 288, out, lines)).vertical, verticalValues[k]);
  }
}

TEST(ScalingMath, OtherRatiosFollowTheFormulas) {
  // 1.5: (1.5 x 1.2005209 - 1) x 4096 = 3280.0; NTSC 3142.4; vertical 0xFF00 & 0x1FFF.
  EXPECT_EQ(computeScaleFactors(pal(768, 288, 512, 192)).horizontal, 3280);
  EXPECT_EQ(computeScaleFactors(ntsc(768, 288, 512, 192)).horizontal, 3142);
  EXPECT_EQ(computeScaleFactors(pal(768, 288, 512, 192)).vertical, 0x1F00);
  // An output wider than the input gives a negative value, kept as it is.
  EXPECT_EQ(computeScaleFactors(pal(384, 288, 768, 288)).horizontal, -1637);

  // NTSC base offset: trunc(640 x 0.1790451) = 114, AND 0x3FE = 114; at 3:2 not exact.
  EXPECT_EQ(computeDelays(ntsc(768, 240, 640, 240)).horizontalBase, 114);
  EXPECT_EQ(computeDelays(ntsc(768, 240, 500, 240)).horizontalBase, 88);  // 89.52 -> 89 -> 88
}

TEST(ScalingMath, DelaysAddTheOffsetsAndMakeTheScaledDelayEven) {
  WindowGeometry g = pal(768, 288, 768, 288);
  g.inputX = 16;
  g.delayX = 9;
  g.inputY = 5;
  g.delayY = 4;
  DelayValues d = computeDelays(g);
  EXPECT_EQ(d.horizontal, 154 + 25) << "unscaled: not made even";
  EXPECT_EQ(d.vertical, 32 + 2 * 9);

  g.outputWidth = 384;
  d = computeDelays(g);
  // 76 - trunc(25 x -763 / 922) = 76 + 20 = 96
  EXPECT_EQ(d.horizontal, 96);
  g.delayX = 10;  // 76 + trunc(26 x 763 / 922) = 76 + 21 = 97 -> 96
  EXPECT_EQ(computeDelays(g).horizontal, 96);

  // The widest stored windows do not overflow.
  d = computeDelays(pal(1, 288, 65535, 288));
  EXPECT_GT(d.horizontalBase, 0);
}

TEST(ScalingMath, SaturationVFollowsSaturation) {
  EXPECT_EQ(derivedSaturationV(128), 91);
  EXPECT_EQ(derivedSaturationV(200), 142);
  EXPECT_EQ(derivedSaturationV(0), 0);
  EXPECT_EQ(derivedSaturationV(255), 181);
}

}  // namespace
}  // namespace terncard
