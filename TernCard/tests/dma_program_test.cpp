// DMA programs word by word (display and memory targets, field layouts,
// flip, masks as pieces, programs that write nothing), the mask runs, and
// the ring exports' bookkeeping against a fake card without field syncs.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "dma_program.h"
#include "fake_card.h"
#include "lx/terncard_capture.h"
#include "mask_runs.h"
#include "register_map.h"

namespace terncard {
namespace {

using testing::FakeCard;
using testing::TestContext;

constexpr uint32_t kProgramPhysical = 0x00200000;
constexpr uint32_t kDisplayAddress = 0xE0000000;
constexpr uint32_t kTarget = 0x01000000;
constexpr DisplayGeometry kScreen{1056, 0, 0};  // 1024 pixels wide, pitch surplus 32

constexpr ProgramTarget kDisplay{false, 0, false, false, false, false};
constexpr ProgramTarget kMemory{true, kTarget, false, false, false, false};

class DmaProgram : public ::testing::Test {
 protected:
  FakeCard card;
  TestContext block;
  std::vector<uint32_t> words = std::vector<uint32_t>(1 << 20, 0xDEADBEEF);
  std::vector<uint8_t> maskFirst = std::vector<uint8_t>(kMaskLineBytes * kMaskFieldLines, 0xFF);
  std::vector<uint8_t> maskSecond = std::vector<uint8_t>(kMaskLineBytes * kMaskFieldLines, 0xFF);
  TernCardContext* context = nullptr;

  void SetUp() override {
    context = block.lock();
    context->bitsPerPixel = 16;
    context->displayAddress = kDisplayAddress;
    context->programAllocated = 1;
    context->programBuffer.UserAddress = reinterpret_cast<uintptr_t>(words.data());
    context->programBuffer.PhysicalAddress = kProgramPhysical;
    context->programBuffer.Size = static_cast<uint32_t>(words.size() * 4);
    context->maskFirst = maskFirst.data();
    context->maskSecond = maskSecond.data();
  }
  void TearDown() override { block.unlock(); }

  uint32_t build(const ProgramTarget& target, uint32_t frames = 1, uint32_t start = 0) {
    BuildDmaProgram(context, target, frames, start, kScreen);
    return static_cast<uint32_t>(context->programEnd);
  }
  void hidePixels(std::vector<uint8_t>& mask, uint32_t line, uint32_t from, uint32_t to) {
    for (uint32_t x = from; x < to; ++x) {
      mask[line * kMaskLineBytes + x / 8] &= static_cast<uint8_t>(~(1u << (x % 8)));
    }
  }
};

TEST_F(DmaProgram, DisplayFrameInterleavesBothFieldsAtTheWindow) {
  context->outputX = 100;
  context->outputY = 50;
  ASSERT_EQ(ProgramWords(context, false, 0, false, 1), 970u);
  EXPECT_EQ(build(kDisplay), 968u);
  const uint32_t window = kDisplayAddress + 2 * (50 * 1056 + 100);
  const uint32_t step = 2 * 1056 * 2;  // two display lines
  EXPECT_EQ(words[0], kSyncFirst);
  EXPECT_EQ(words[1], 0u);
  EXPECT_EQ(words[2], kSyncData);
  EXPECT_EQ(words[3], 0u);
  for (uint32_t i = 0; i < 240; ++i) {
    ASSERT_EQ(words[4 + 2 * i], 0x1C000000u + 1280) << i;
    ASSERT_EQ(words[5 + 2 * i], window + i * step) << i;
  }
  EXPECT_EQ(words[484], kSyncSecond);
  EXPECT_EQ(words[486], kSyncData);
  for (uint32_t i = 0; i < 240; ++i) {
    ASSERT_EQ(words[489 + 2 * i], window + 1056 * 2 + i * step) << i;
  }
  EXPECT_EQ(words[968], kJump);
  EXPECT_EQ(words[969], kProgramPhysical);
  EXPECT_EQ(words[970], 0xDEADBEEFu) << "nothing written past the jump";
  EXPECT_EQ(card.reg(REG_PROGRAM_START), kProgramPhysical);
}

TEST_F(DmaProgram, MemoryLayoutsSeparateFlipAndFrames) {
  ProgramTarget separate = kMemory;
  separate.separateFields = true;
  build(separate, 2);
  EXPECT_EQ(words[5], kTarget);
  EXPECT_EQ(words[7], kTarget + 1280);
  EXPECT_EQ(words[484], kSyncSecond);
  EXPECT_EQ(words[489], kTarget + 1280 * 240);
  EXPECT_EQ(words[491], kTarget + 1280 * 241);
  EXPECT_EQ(words[968 + 5], kTarget + 1280 * 480) << "frame 1 follows frame 0";
  EXPECT_EQ(words[2 * 968], kJump);

  ProgramTarget flipped = kMemory;
  flipped.flip = true;
  build(flipped);
  EXPECT_EQ(words[5], kTarget + 479 * 1280);
  EXPECT_EQ(words[7], kTarget + 477 * 1280);
  EXPECT_EQ(words[489], kTarget + 478 * 1280);
  EXPECT_EQ(words[4 + 2 * 239 + 1], kTarget + 1 * 1280);
  EXPECT_EQ(words[484 + 5 + 2 * 239], kTarget);

  flipped.separateFields = true;
  build(flipped);
  EXPECT_EQ(words[5], kTarget + 239 * 1280);
  EXPECT_EQ(words[489], kTarget + 479 * 1280);
  EXPECT_EQ(words[489 + 2 * 239], kTarget + 240 * 1280);

  context->scanMode = 2;  // second fields only, one block per frame
  EXPECT_EQ(ProgramWords(context, true, kTarget, false, 3), 2u + 3 * 484);
  build(kMemory, 3);
  EXPECT_EQ(words[0], kSyncSecond);
  EXPECT_EQ(words[484], kSyncSecond);
  EXPECT_EQ(words[484 + 5], kTarget + 1280 * 240);
  context->scanMode = 7;  // behaves as a first-field mode
  build(flipped, 1);
  EXPECT_EQ(words[0], kSyncFirst);
  EXPECT_EQ(words[5], kTarget + 239 * 1280);
  EXPECT_EQ(words[484], kJump);
}

TEST_F(DmaProgram, MaskLinesBecomePieces) {
  context->maskEnabled = 1;
  hidePixels(maskFirst, 1, 0, 768);
  hidePixels(maskFirst, 2, 100, 768);
  hidePixels(maskFirst, 3, 0, 1);
  hidePixels(maskFirst, 3, 639, 640);
  // 237 whole lines (2 words), a skipped line (1), two pieces (3), three pieces (4).
  const uint32_t firstBlock = 4 + 237 * 2 + 1 + 3 + 4;
  EXPECT_EQ(ProgramWords(context, false, 0, false, 1), 2 + firstBlock + 484);
  build(kDisplay);
  const uint32_t window = kDisplayAddress;
  EXPECT_EQ(words[4], 0x1C000000u + 1280) << "a mask line of ones is one whole line";
  EXPECT_EQ(words[6], 0x2C000000u + 1280) << "a line of zeros is skipped";
  EXPECT_EQ(words[7], 0x18000000u + 200) << "ones for pixels 0-99: a first write piece";
  EXPECT_EQ(words[8], window + 2 * 2 * 1056 * 2);
  EXPECT_EQ(words[9], 0x24000000u + 1080) << "then a last skip piece of 540 pixels";
  EXPECT_EQ(words[10], 0x28000000u + 2);
  EXPECT_EQ(words[11], 0x10000000u + 638 * 2);
  EXPECT_EQ(words[12], window + 3 * 2 * 1056 * 2 + 2);
  EXPECT_EQ(words[13], 0x24000000u + 2);
  EXPECT_EQ(words[firstBlock], kSyncSecond) << "the second field uses its own mask";

  // The same mask without the overlay switch changes nothing.
  context->maskEnabled = 0;
  EXPECT_EQ(ProgramWords(context, false, 0, false, 1), 970u);
}

TEST_F(DmaProgram, AlternatingMaskMarksOnlyTheFirstAndLastPiece) {
  context->maskEnabled = 1;
  context->outputWidth = 768;
  std::fill_n(maskFirst.begin(), kMaskLineBytes, 0x55);  // line 0: pixels 0, 2, 4 ... visible
  build(kMemory);
  // 384 write pieces (2 words) and 384 skip pieces (1 word).
  EXPECT_EQ(words[4], 0x18000000u + 2);
  EXPECT_EQ(words[5], kTarget);
  EXPECT_EQ(words[6], 0x20000000u + 2);
  EXPECT_EQ(words[7], 0x10000000u + 2);
  EXPECT_EQ(words[8], kTarget + 4);
  EXPECT_EQ(words[4 + 1149], 0x10000000u + 2);
  EXPECT_EQ(words[4 + 1150], kTarget + 766 * 2);
  EXPECT_EQ(words[4 + 1151], 0x24000000u + 2) << "the last piece alone carries the last mark";
  EXPECT_EQ(words[4 + 1152], 0x1C000000u + 1536) << "line 1 is whole again";
}

TEST_F(DmaProgram, PixelsBeyondTheMaskAreVisible) {
  context->maskEnabled = 1;
  context->outputWidth = 800;
  context->outputHeight = 290;  // two lines beyond the mask's 288
  hidePixels(maskFirst, 0, 700, 768);
  for (uint32_t line = 1; line < kMaskFieldLines; ++line) {
    hidePixels(maskFirst, line, 0, 768);
  }
  build(kMemory);
  EXPECT_EQ(words[4], 0x18000000u + 1400);
  EXPECT_EQ(words[6], 0x20000000u + 136);
  EXPECT_EQ(words[7], 0x14000000u + 64);
  EXPECT_EQ(words[8], kTarget + 768 * 2);
  // Mask line 1: the 768 masked pixels skipped, the 32 beyond written.
  EXPECT_EQ(words[9], 0x28000000u + 1536);
  EXPECT_EQ(words[10], 0x14000000u + 64);
  EXPECT_EQ(words[11], kTarget + 2 * 1600 + 1536);
  // Field lines 288 and 289 lie beyond the mask: whole lines.
  const uint32_t lastLines = 4 + 5 + 287 * 3;
  EXPECT_EQ(words[lastLines], 0x1C000000u + 1600);
  EXPECT_EQ(words[lastLines + 2], 0x1C000000u + 1600);
  EXPECT_EQ(words[lastLines + 4], kSyncSecond);
}

TEST_F(DmaProgram, ProgramThatWritesNothingKeepsItsLength) {
  ProgramTarget nothing = kMemory;
  nothing.writesNothing = true;
  EXPECT_EQ(build(nothing), 968u);
  EXPECT_EQ(words[4], 0x28000000u + 1280);
  EXPECT_EQ(words[5], 0x24000000u);
  context->maskEnabled = 1;
  hidePixels(maskFirst, 0, 100, 768);
  const uint32_t end = build(nothing);
  EXPECT_EQ(end, build(kMemory)) << "same words with and without writing";
  build(nothing);
  EXPECT_EQ(words[4], 0x28000000u + 200);
  EXPECT_EQ(words[5], 0x20000000u);
  EXPECT_EQ(words[6], 0x24000000u + 1080);
  for (uint32_t k = 0; k < end; ++k) {
    ASSERT_NE(words[k] & 0xF0000000u, 0x10000000u) << "a write at word " << k;
  }
}

TEST(MaskRuns, AlternatingPixelsGiveOneRunEach) {
  std::vector<uint8_t> line(kMaskLineBytes, 0x55);
  uint16_t runs[kMaxRunsPerLine];
  ASSERT_EQ(maskLineRuns(line.data(), 768, runs), 768u);
  EXPECT_EQ(runs[0], kRunVisible | 1);
  EXPECT_EQ(runs[1], 1);
  EXPECT_EQ(runs[767], 1);
  ASSERT_EQ(maskLineRuns(line.data(), 770, runs), 769u);
  EXPECT_EQ(runs[768], kRunVisible | 2);
  EXPECT_EQ(maskLineRuns(nullptr, 640, runs), 1u);
  EXPECT_EQ(runs[0], kRunVisible | 640);
  line.assign(kMaskLineBytes, 0);
  line[8] = 0x80;  // pixel 71 alone
  ASSERT_EQ(maskLineRuns(line.data(), 100, runs), 3u);
  EXPECT_EQ(runs[0], 71);
  EXPECT_EQ(runs[1], kRunVisible | 1);
  EXPECT_EQ(runs[2], 28);
}

// The exports against a fake card whose field indicator never moves.
TEST_F(DmaProgram, RingBookkeepingAndProgramCounter) {
  block.unlock();
  const uint64_t handle = block.handle();
  const auto began = std::chrono::steady_clock::now();
  EXPECT_EQ(TernCardSnapToMem(handle, kTarget, 4 * 2 * 240 * 1280, 0, 4), 0) << "no field syncs: not running";
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(20)) << "the waits are bounded";
  context = block.lock();
  EXPECT_EQ(context->ringFrames, 8);
  EXPECT_EQ(context->fieldCountMask, 7);
  EXPECT_EQ(context->frameProgramBytes, 484u * 4);
  EXPECT_EQ(card.reg(REG_DMA_CONTROL) & 3, 0u) << "stopped after the failed wait";
  block.unlock();

  int32_t number = -5;
  card.setReg(REG_PROGRAM_COUNTER, kProgramPhysical + 8 * 484 * 4);
  ASSERT_EQ(TernCardGetSnapToMemNumber(handle, &number), 1);
  EXPECT_EQ(number, 7) << "at the final jump: the last block";
  card.setReg(REG_PROGRAM_COUNTER, kProgramPhysical + 3 * 484 * 4 + 8);
  ASSERT_EQ(TernCardGetSnapToMemNumber(handle, &number), 1);
  EXPECT_EQ(number, 3);
  card.setReg(REG_PROGRAM_COUNTER, kProgramPhysical - 4);
  EXPECT_EQ(TernCardGetSnapToMemNumber(handle, &number), 0) << "outside the ring for good: bounded, failed";
  EXPECT_EQ(TernCardGetSnapToMemNumber(0xFFFFFFFF, &number), 0);

  card.setReg(REG_FIELD_COUNT, 6);
  EXPECT_EQ(TernCardGetSnapToMemStatus(handle, &number), 1);
  EXPECT_EQ(number, 5);
  uint32_t status = 9;
  EXPECT_EQ(TernCardGetSnappingStatus(handle, &status), 1);
  EXPECT_EQ(status, 2u);
  EXPECT_EQ(TernCardGetSnappingStatus(handle, nullptr), 0);
  context = block.lock();
}

TEST_F(DmaProgram, RefusalsTouchNothing) {
  block.unlock();
  const uint64_t handle = block.handle();
  const uint32_t frame = 2 * 240 * 1280;
  card.clearLog();
  EXPECT_EQ(TernCardCaptureToMem(handle, kTarget, 2 * frame - 1, 0, 0, 5), 0) << "the ring writes two frames";
  EXPECT_EQ(TernCardCaptureToMem(handle, kTarget, frame, 0, 0, 2), 0);
  EXPECT_EQ(TernCardCaptureToMem(handle, kTarget, 10 * frame, 0, 0, 0), 0);
  EXPECT_EQ(TernCardSnapOneToMem(handle, kTarget, 2 * frame - 1, 0), 0);
  EXPECT_EQ(TernCardSnapToMem(handle, kTarget, 3 * frame - 1, 0, 3), 0);
  EXPECT_EQ(TernCardCaptureToMem(2, kTarget, 10 * frame, 0, 0, 5), 0);
  EXPECT_TRUE(card.log.empty()) << "no request reached the card";
  EXPECT_EQ(words[0], 0xDEADBEEFu);

  // Rings whose bookkeeping or program would not fit 16 or 32 bits.
  context = block.lock();
  context->outputWidth = 4;
  context->outputHeight = 1;
  block.unlock();
  EXPECT_EQ(TernCardSnapToMem(handle, kTarget, 0xFFFFFFFF, 0, 40000), 0) << "80000 field blocks";
  context = block.lock();
  context->bitsPerPixel = 8;
  context->outputWidth = 768;
  context->outputHeight = 288;
  context->maskEnabled = 1;
  std::fill(maskFirst.begin(), maskFirst.end(), 0x55);
  std::fill(maskSecond.begin(), maskSecond.end(), 0x55);
  block.unlock();
  EXPECT_EQ(TernCardSnapToMem(handle, kTarget, 0xFFFFFFFF, 0, 9000), 0) << "25 GB of program";
  context = block.lock();
  EXPECT_EQ(context->programBuffer.Size, words.size() * 4) << "the buffer was kept";
  block.unlock();
  EXPECT_EQ(words[0], 0xDEADBEEFu);

  uint8_t other = 0;
  EXPECT_EQ(TernCardSetMask(handle, 2, &other), 1);
  EXPECT_EQ(TernCardEnableOverlay(handle, 1), 1);
  context = block.lock();
  EXPECT_EQ(context->maskFirst, maskFirst.data());
  EXPECT_EQ(context->maskSecond, maskSecond.data());
  EXPECT_EQ(context->maskEnabled, 1);
}

}  // namespace
}  // namespace terncard
