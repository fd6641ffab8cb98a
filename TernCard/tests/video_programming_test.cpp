// The video parameter exports: what they store and what lands in the
// registers (both geometry sets) and in the shadow.
#include <gtest/gtest.h>

#include <vector>

#include "fake_card.h"
#include "lx/terncard.h"
#include "register_map.h"

namespace terncard {
namespace {

using testing::FakeCard;
using testing::TestContext;

class VideoProgramming : public ::testing::Test {
 protected:
  FakeCard card;
  TestContext block;

  // Register value in both sets, checked against each other and the shadow.
  uint32_t geometry(uint16_t offsetA) {
    const uint32_t a = card.reg(offsetA);
    EXPECT_EQ(card.reg(offsetA + kSetB), a) << "set B differs at " << std::hex << offsetA;
    EXPECT_EQ(shadow(offsetA), a) << "shadow differs at " << std::hex << offsetA;
    EXPECT_EQ(shadow(offsetA + kSetB), a) << "shadow differs at " << std::hex << offsetA + kSetB;
    return a;
  }
  uint32_t shadow(uint16_t offset) {
    const uint32_t value = block.lock()->registerShadow[shadowCellOf(offset)];
    block.unlock();
    return value;
  }
  TernCardContext snapshot() {
    TernCardContext copy = *block.lock();
    block.unlock();
    return copy;
  }
  uint32_t horizontalScale() { return (geometry(REG_HSCALE_HI_A) << 8) | geometry(REG_HSCALE_LO_A); }
  uint32_t verticalScale() { return ((geometry(REG_VSCALE_HI_A) & 0x1F) << 8) | geometry(REG_VSCALE_LO_A); }
  uint32_t horizontalDelay() { return ((geometry(REG_HIGH_BITS_A) >> 2 & 3) << 8) | geometry(REG_HDELAY_A); }
  uint32_t verticalDelay() { return ((geometry(REG_HIGH_BITS_A) >> 6 & 3) << 8) | geometry(REG_VDELAY_A); }
};

TEST_F(VideoProgramming, PalFullFrameIsUnscaled) {
  const uint64_t h = block.handle();
  ASSERT_EQ(TernCardSetVideoStandard(h, 0), 1);
  ASSERT_EQ(TernCardSetInpVideoWindow(h, 0, 0, 768, 576), 1);
  ASSERT_EQ(TernCardSetDispWindow(h, 0, 0, 768, 576), 1);
  EXPECT_EQ(horizontalScale(), 828u);
  EXPECT_EQ(verticalScale(), 0u);
  EXPECT_EQ(horizontalDelay(), 154u);
  EXPECT_EQ(verticalDelay(), 32u);
  // Active height 576 (0x240) and width 768 (0x300).
  EXPECT_EQ(geometry(REG_HIGH_BITS_A) & 0x33, 0x23u);
  EXPECT_EQ(geometry(REG_VACTIVE_A), 0x40u);
  EXPECT_EQ(geometry(REG_HACTIVE_A), 0x00u);
  EXPECT_EQ(card.reg(REG_INPUT_FORMAT) & 7, 3u);
  EXPECT_EQ(card.reg(REG_TIMING_1), 135u);
  EXPECT_EQ(card.reg(REG_TIMING_2), 120u);
  EXPECT_EQ(card.reg(REG_SYNC_CONTROL) & 0x18, 0x08u) << "PAL on a revised board";
  const TernCardContext c = snapshot();
  EXPECT_EQ(c.inputHeight, 288);
  EXPECT_EQ(c.outputHeight, 288);
  EXPECT_EQ(block.lockCount(), 0u);
}

TEST_F(VideoProgramming, NtscHalfSize) {
  const uint64_t h = block.handle();
  ASSERT_EQ(TernCardSetVideoStandard(h, 1), 1);
  ASSERT_EQ(TernCardSetInpVideoWindow(h, 0, 0, 640, 480), 1);
  ASSERT_EQ(TernCardSetDispWindow(h, 0, 0, 320, 240), 1);
  EXPECT_EQ(horizontalScale(), 5461u);
  EXPECT_EQ(verticalScale(), 0x1E00u);
  EXPECT_EQ(horizontalDelay(), 56u);
  EXPECT_EQ(verticalDelay(), 26u);
  EXPECT_EQ(card.reg(REG_INPUT_FORMAT) & 7, 1u);
  EXPECT_EQ(card.reg(REG_TIMING_1), 112u);
  EXPECT_EQ(card.reg(REG_TIMING_2), 93u);
  EXPECT_EQ(card.reg(REG_SYNC_CONTROL) & 0x18, 0u) << "NTSC on a revised board";
  block.lock()->boardRevisionFlag = 0;
  block.unlock();
  ASSERT_EQ(TernCardSetVideoStandard(h, 7), 1) << "any nonzero standard is NTSC";
  EXPECT_EQ(card.reg(REG_SYNC_CONTROL) & 0x18, 0x08u);
}

TEST_F(VideoProgramming, PalHalfWidth) {
  const uint64_t h = block.handle();
  ASSERT_EQ(TernCardSetInpVideoWindow(h, 0, 0, 768, 576), 1);
  ASSERT_EQ(TernCardSetDispWindow(h, 0, 0, 384, 576), 1);
  EXPECT_EQ(horizontalScale(), 5753u);
  EXPECT_EQ(horizontalDelay(), 76u);
  EXPECT_EQ(geometry(REG_HIGH_BITS_A) & 0x03, 1u);  // 384 = 0x180
  EXPECT_EQ(geometry(REG_HACTIVE_A), 0x80u);
}

TEST_F(VideoProgramming, WindowsAreStoredPerField) {
  const uint64_t h = block.handle();
  ASSERT_EQ(TernCardSetInpVideoWindow(h, 16, 11, 700, 500), 1);
  TernCardContext c = snapshot();
  EXPECT_EQ(c.inputX, 16);
  EXPECT_EQ(c.inputY, 5);
  EXPECT_EQ(c.inputWidth, 700);
  EXPECT_EQ(c.inputHeight, 250);
  ASSERT_EQ(TernCardSetInpVideoWindow(h, 0, -4, 700, -1), 1);
  c = snapshot();
  EXPECT_EQ(c.inputY, 0xFFFC) << "negative values are not halved";
  EXPECT_EQ(c.inputHeight, 0xFFFF);
  ASSERT_EQ(TernCardSetDispWindow(h, 3, 7, 640, 481), 1);
  c = snapshot();
  EXPECT_EQ(c.outputX, 3);
  EXPECT_EQ(c.outputY, 7) << "the output y is kept whole";
  EXPECT_EQ(c.outputHeight, 240);

  // A dimension that would be stored as 0 is refused and changes nothing.
  card.clearLog();
  EXPECT_EQ(TernCardSetDispWindow(h, 0, 0, 0, 480), 0);
  EXPECT_EQ(TernCardSetDispWindow(h, 0, 0, 640, 1), 0);
  EXPECT_EQ(TernCardSetInpVideoWindow(h, 0, 0, 65536, 480), 0);
  EXPECT_TRUE(card.log.empty());
  EXPECT_EQ(snapshot().outputWidth, 640);
}

TEST_F(VideoProgramming, DelaysAndInputOffsetsMoveTheWindow) {
  const uint64_t h = block.handle();
  ASSERT_EQ(TernCardSetInpVideoWindow(h, 16, 10, 768, 576), 1);
  ASSERT_EQ(TernCardSetDispWindow(h, 0, 0, 768, 576), 1);
  ASSERT_EQ(TernCardSetDelay(h, 10, 9), 1);
  const TernCardContext c = snapshot();
  EXPECT_EQ(c.delayX, 10);
  EXPECT_EQ(c.delayY, 4);
  EXPECT_EQ(horizontalDelay(), 154u + 10 + 16);
  EXPECT_EQ(verticalDelay(), 32u + 2 * (4 + 5));
  // A delay reaching past 255 fills the high bits.
  ASSERT_EQ(TernCardSetDelay(h, 200, 300), 1);
  EXPECT_EQ(horizontalDelay(), 154u + 200 + 16);
  EXPECT_EQ(verticalDelay(), 32u + 2 * (150 + 5));
}

TEST_F(VideoProgramming, PictureAdjustments) {
  const uint64_t h = block.handle();
  ASSERT_EQ(TernCardSetADParam(h, 1, 0), 1);
  EXPECT_EQ(card.reg(REG_BRIGHTNESS), 0x80u);
  ASSERT_EQ(TernCardSetADParam(h, 3, 255), 1);
  EXPECT_EQ(card.reg(REG_HUE), 0x7Fu);
  ASSERT_EQ(TernCardSetADParam(h, 2, 200), 1);  // 400 = 0x190
  EXPECT_EQ(card.reg(REG_CONTRAST), 0x90u);
  EXPECT_EQ(geometry(REG_CONTROL_A) & 0x04, 0x04u);
  ASSERT_EQ(TernCardSetADParam(h, 2, 100), 1);  // 200: bit 8 clear again
  EXPECT_EQ(geometry(REG_CONTROL_A) & 0x04, 0u);

  ASSERT_EQ(TernCardSetADParam(h, 4, 200), 1);
  TernCardContext c = snapshot();
  EXPECT_EQ(c.saturation, 200);
  EXPECT_EQ(c.saturationU, 200);
  EXPECT_EQ(c.saturationV, 142);
  EXPECT_EQ(card.reg(REG_SAT_U), 0x90u);  // 400
  EXPECT_EQ(card.reg(REG_SAT_V), 0x1Cu);  // 284
  EXPECT_EQ(geometry(REG_CONTROL_A) & 0x03, 0x03u);

  ASSERT_EQ(TernCardSetADParam(h, 6, 50), 1);  // 100: V bit 8 clear, U untouched
  c = snapshot();
  EXPECT_EQ(c.saturationV, 50);
  EXPECT_EQ(c.saturationU, 200);
  EXPECT_EQ(card.reg(REG_SAT_V), 100u);
  EXPECT_EQ(geometry(REG_CONTROL_A) & 0x03, 0x02u);
  ASSERT_EQ(TernCardSetADParam(h, 5, 10), 1);
  EXPECT_EQ(card.reg(REG_SAT_U), 20u);
  EXPECT_EQ(geometry(REG_CONTROL_A) & 0x03, 0x00u);

  card.clearLog();
  EXPECT_EQ(TernCardSetADParam(h, 7, 1), 1);
  EXPECT_TRUE(card.log.empty());
}

TEST_F(VideoProgramming, InputSelectionFollowsTheBoardSignature) {
  const uint64_t h = block.handle();
  struct Route {
    uint32_t multiplexer;
    bool separateChroma;
  };
  auto expectRoute = [&](uint8_t source, Route route) {
    ASSERT_EQ(TernCardSetADParam(h, 0, source), 1) << "source " << int(source);
    EXPECT_EQ((card.reg(REG_INPUT_FORMAT) >> 5) & 3, route.multiplexer) << "source " << int(source);
    EXPECT_EQ((geometry(REG_CONTROL_A) >> 6) & 1, route.separateChroma ? 1u : 0u) << "source " << int(source);
    EXPECT_EQ((card.reg(REG_SOURCE_CONTROL) >> 1) & 1, route.separateChroma ? 0u : 1u) << "source " << int(source);
    EXPECT_EQ(snapshot().videoSource, source);
  };
  card.setSignature(true);
  expectRoute(0, {3, false});
  expectRoute(1, {1, false});
  expectRoute(2, {0, true});
  card.clearLog();
  EXPECT_EQ(TernCardSetADParam(h, 0, 3), 0) << "no such input on this board";
  EXPECT_EQ(snapshot().videoSource, 2);
  EXPECT_TRUE(card.writesTo(REG_INPUT_FORMAT).empty());

  card.setSignature(false);  // read again on every selection
  expectRoute(0, {2, false});
  expectRoute(1, {3, false});
  expectRoute(2, {1, false});
  expectRoute(3, {0, true});
  expectRoute(4, {0, false});
  EXPECT_EQ(TernCardSetADParam(h, 0, 5), 0);
  EXPECT_EQ(snapshot().videoSource, 4);
  EXPECT_EQ(card.reg(REG_INPUT_FORMAT) & 7, 0u) << "the standard bits are untouched";
}

TEST_F(VideoProgramming, PixelFormatsScanModeClockAndDecimation) {
  const uint64_t h = block.handle();
  const struct {
    uint32_t value;
    int32_t bits;
    uint32_t range;
  } formats[] = {{0x44, 16, 0x80}, {0x11, 24, 0x80}, {0x22, 16, 0x80}, {0x33, 16, 0x80},
                 {0x00, 32, 0x80}, {0x66, 8, 0x80},  {0x66, 8, 0}};
  for (uint8_t code = 0; code < 7; ++code) {
    ASSERT_EQ(TernCardSetColorSpace(h, code), 1);
    EXPECT_EQ(card.reg(REG_PIXEL_FORMAT), formats[code].value) << int(code);
    EXPECT_EQ(card.reg(REG_PIXEL_OPTIONS) & 0x80, formats[code].range) << int(code);
    EXPECT_EQ(snapshot().bitsPerPixel, formats[code].bits) << int(code);
  }
  card.clearLog();
  EXPECT_EQ(TernCardSetColorSpace(h, 7), 0);
  EXPECT_EQ(snapshot().pixelFormat, 6);
  EXPECT_TRUE(card.log.empty());

  ASSERT_EQ(TernCardSetDispMode(h, 1), 1);
  EXPECT_EQ(geometry(REG_VSCALE_HI_A) & 0xA0, 0x80u);
  ASSERT_EQ(TernCardSetDispMode(h, 0), 1);
  EXPECT_EQ(geometry(REG_VSCALE_HI_A) & 0xA0, 0x20u);
  EXPECT_EQ(snapshot().scanMode, 0);

  ASSERT_EQ(TernCardSetPLLFreqParam(h, 200), 1);
  EXPECT_EQ(card.reg(REG_CLOCK_1), 200u);
  EXPECT_EQ(snapshot().pllParam, 200);

  ASSERT_EQ(TernCardSetVideoDecimation(h, 0x3F), 1);
  EXPECT_EQ(card.reg(REG_DECIMATION), 0x3Fu);
  EXPECT_EQ(TernCardSetVideoDecimation(h, 0x40), 0);
  EXPECT_EQ(snapshot().decimation, 0x3F);
  EXPECT_EQ(TernCardDirectSetADParam(h), 1);
}

TEST_F(VideoProgramming, RunningCaptureIsRebuiltForTheNewWindow) {
  const uint64_t h = block.handle();
  std::vector<uint32_t> program(0x8000 / 4, 0);
  TernCardContext* c = block.lock();
  c->capturing = 1;
  c->displayAddress = 0x40000000;
  c->programAllocated = 1;
  c->programBuffer.UserAddress = reinterpret_cast<uintptr_t>(program.data());
  c->programBuffer.PhysicalAddress = 0x00200000;
  c->programBuffer.Size = 0x8000;
  block.unlock();
  card.setReg(REG_DMA_CONTROL, 3);

  ASSERT_EQ(TernCardSetDispWindow(h, 0, 0, 320, 240), 1);
  // Stopped, rebuilt for 120 lines per field in both fields, started again.
  EXPECT_EQ(card.writesTo(REG_DMA_CONTROL).front() & 3, 0u);
  EXPECT_EQ(card.reg(REG_DMA_CONTROL) & 3, 3u);
  EXPECT_EQ(card.reg(REG_PROGRAM_START), 0x00200000u);
  size_t lines = 0;
  for (uint32_t word : program) lines += (word & 0xFC000000) == 0x1C000000 ? 1 : 0;
  EXPECT_EQ(lines, 2u * 120);

  // A program that needs a bigger buffer than can be had: 0, but the
  // window is stored and programmed all the same.
  c = block.lock();
  c->programBuffer.Size = 16;
  block.unlock();
  EXPECT_EQ(TernCardSetDispWindow(h, 0, 0, 640, 480), 0);
  const TernCardContext after = snapshot();
  EXPECT_EQ(after.outputWidth, 640);
  EXPECT_EQ(after.outputHeight, 240);
  EXPECT_EQ(geometry(REG_HACTIVE_A), 0x80u);  // 640 = 0x280
  EXPECT_EQ(card.reg(REG_DMA_CONTROL) & 3, 0u) << "the engine stays stopped";
  c = block.lock();
  c->programAllocated = 0;  // the test's buffer is not the service's to free
  c->capturing = 0;
  block.unlock();
}

TEST_F(VideoProgramming, SignalPresenceIsBit7OfTheStatus) {
  const uint64_t h = block.handle();
  int32_t present = -1;
  card.setReg(REG_VIDEO_STATUS, 0x80);
  ASSERT_EQ(TernCardVideoPresent(h, &present), 1);
  EXPECT_EQ(present, 1);
  card.setReg(REG_VIDEO_STATUS, 0x7F);
  ASSERT_EQ(TernCardVideoPresent(h, &present), 1);
  EXPECT_EQ(present, 0);
  EXPECT_EQ(TernCardVideoPresent(h, nullptr), 0);
  // A card that does not answer fails the question and leaves the output.
  card.setReg(REG_VIDEO_STATUS, 0x80);
  present = -1;
  card.failRequests = true;
  EXPECT_EQ(TernCardVideoPresent(h, &present), 0);
  card.failRequests = false;
  EXPECT_EQ(present, -1);
}

TEST_F(VideoProgramming, RejectedHandlesChangeNothing) {
  for (uint64_t rejected : {0ull, 1ull, 2ull, 3ull, 0xFFFFFFFFull}) {
    int32_t present = 0;
    EXPECT_EQ(TernCardSetADParam(rejected, 1, 5), 0);
    EXPECT_EQ(TernCardDirectSetADParam(rejected), 0);
    EXPECT_EQ(TernCardSetInpVideoWindow(rejected, 0, 0, 768, 576), 0);
    EXPECT_EQ(TernCardSetDispWindow(rejected, 0, 0, 768, 576), 0);
    EXPECT_EQ(TernCardSetVideoStandard(rejected, 1), 0);
    EXPECT_EQ(TernCardSetPLLFreqParam(rejected, 1), 0);
    EXPECT_EQ(TernCardSetDelay(rejected, 1, 1), 0);
    EXPECT_EQ(TernCardSetDispMode(rejected, 1), 0);
    EXPECT_EQ(TernCardSetColorSpace(rejected, 1), 0);
    EXPECT_EQ(TernCardSetVideoDecimation(rejected, 1), 0);
    EXPECT_EQ(TernCardVideoPresent(rejected, &present), 0);
  }
  // A freed context cannot be locked any more.
  HGLOBAL stale = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(TernCardContext));
  const uint64_t staleHandle = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(stale));
  GlobalFree(stale);
  EXPECT_EQ(TernCardSetADParam(staleHandle, 1, 5), 0);
  EXPECT_TRUE(card.log.empty());
}

}  // namespace
}  // namespace terncard
