// What the capture exports do when the card's DMA engine faults, where the
// card is pointed before a start, and a live capture that cannot restart:
// against a fake card whose fields turn and whose engine faults on demand.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "fake_card.h"
#include "lx/terncard.h"
#include "lx/terncard_capture.h"
#include "lx/internal/terncard_ioctl.h"
#include "register_map.h"

namespace terncard {
namespace {

using testing::FakeCard;
using testing::TestContext;

constexpr uint32_t kProgramPhysical = 0x00300000;
constexpr uint32_t kTarget = 0x01000000;
constexpr uint32_t kNoSync = 1u << 15;
constexpr uint32_t kWriteFault = 1u << 14;
// Two frames of the default window (640 x 240 per field, 16 bits).
constexpr uint32_t kTwoFrames = 2 * 2 * 240 * 1280;

class DmaFault : public ::testing::Test {
 protected:
  FakeCard card;
  TestContext block;
  std::vector<uint32_t> words = std::vector<uint32_t>(1 << 16, 0);

  void SetUp() override {
    card.fieldsTurn = true;
    TernCardContext* context = block.lock();
    context->bitsPerPixel = 16;
    context->programAllocated = 1;
    context->programBuffer.UserAddress = reinterpret_cast<uintptr_t>(words.data());
    context->programBuffer.PhysicalAddress = kProgramPhysical;
    context->programBuffer.Size = static_cast<uint32_t>(words.size() * 4);
    block.unlock();
  }
  uint64_t handle() const { return block.handle(); }
  bool engineEnabled() const { return (card.reg(REG_DMA_CONTROL) & 3) != 0 || (card.reg(REG_CAPTURE_CONTROL) & 3) != 0; }
};

TEST_F(DmaFault, RingStartFailsWhenTheEngineFaultsAndStopsIt) {
  // A sound engine: the ring runs.
  ASSERT_EQ(TernCardSnapToMem(handle(), kTarget, kTwoFrames, 0, 2), 1);
  EXPECT_TRUE(engineEnabled());
  ASSERT_EQ(TernCardCapture(handle(), 0), -1) << "no display in this process; the ring stops all the same";
  EXPECT_FALSE(engineEnabled());

  // A fault during the field waits that follow the start.
  card.faultBits = kNoSync;
  card.faultAfterStatusReads = 3;
  EXPECT_EQ(TernCardSnapToMem(handle(), kTarget, kTwoFrames, 0, 2), 0);
  EXPECT_FALSE(engineEnabled());
  EXPECT_EQ(TernCardSnapOneToMem(handle(), kTarget, kTwoFrames, 0), 0);
  EXPECT_FALSE(engineEnabled());

  // A fault the moment the engine is enabled.
  card.faultAfterStatusReads = 0;
  EXPECT_EQ(TernCardSnapToMem(handle(), kTarget, kTwoFrames, 0, 2), 0);
  EXPECT_FALSE(engineEnabled());
  EXPECT_EQ(TernCardCaptureToMem(handle(), kTarget, 3 * kTwoFrames / 2, 0, 0, 3), 0);
  EXPECT_FALSE(engineEnabled());
  EXPECT_EQ(block.lockCount(), 0u);
}

TEST_F(DmaFault, RunningRingReportsAFaultInItsNumberAndFieldWaits) {
  ASSERT_EQ(TernCardSnapToMem(handle(), kTarget, kTwoFrames, 0, 2), 1);
  card.setReg(REG_PROGRAM_COUNTER, kProgramPhysical + 8);
  int32_t number = -5;
  ASSERT_EQ(TernCardGetSnapToMemNumber(handle(), &number), 1);
  EXPECT_EQ(number, 0);
  EXPECT_EQ(TernCardWaitOddVSync(handle()), 1);
  EXPECT_EQ(TernCardWaitEvenVSync(handle()), 1);

  // The engine halts on a write fault: the ring stands still, and every
  // wait on it says so instead of answering as if it turned.
  card.setReg(REG_INT_STATUS, card.reg(REG_INT_STATUS) | kWriteFault);
  EXPECT_EQ(TernCardGetSnapToMemNumber(handle(), &number), 0);
  EXPECT_EQ(TernCardWaitOddVSync(handle()), 0);
  EXPECT_EQ(TernCardWaitEvenVSync(handle()), 0);

  // Stopped, the error bits no longer concern the field waits.
  TernCardCapture(handle(), 0);
  EXPECT_EQ(TernCardWaitOddVSync(handle()), 1);
}

TEST_F(DmaFault, EveryStartPointsTheCardAtTheProgramBuffer) {
  ASSERT_EQ(TernCardSnapToMem(handle(), kTarget, kTwoFrames, 0, 2), 1);
  TernCardCapture(handle(), 0);
  // A raw write moves the card's program start behind the shadow's back.
  ASSERT_EQ(Set32BitParam(handle(), REG_PROGRAM_START, 0), 1);
  card.clearLog();
  ASSERT_EQ(TernCardSnapToMem(handle(), kTarget, kTwoFrames, 0, 2), 1);
  EXPECT_EQ(card.reg(REG_PROGRAM_START), kProgramPhysical);
  // ... and before the engine is enabled.
  size_t startWrite = card.log.size(), enableWrite = card.log.size();
  for (size_t i = 0; i < card.log.size(); ++i) {
    if (card.log[i].operation != TERN_REG_WRITE_WORD) continue;
    if (card.log[i].offset == REG_PROGRAM_START && card.log[i].value == kProgramPhysical) startWrite = std::min(startWrite, i);
    if (card.log[i].offset == REG_DMA_CONTROL && card.log[i].value == 3) enableWrite = std::min(enableWrite, i);
  }
  EXPECT_LT(startWrite, enableWrite);
  TernCardCapture(handle(), 0);
}

TEST_F(DmaFault, LiveCaptureThatCannotRestartIsNoLongerCapturing) {
  TernCardContext* context = block.lock();
  context->capturing = 1;
  // A buffer too small for the new window, and no service to grow it.
  context->programBuffer.Size = 64;
  block.unlock();
  EXPECT_EQ(TernCardSetDispWindow(handle(), 0, 0, 320, 480), 0);
  context = block.lock();
  EXPECT_EQ(context->capturing, 0);
  EXPECT_EQ(context->outputWidth, 320) << "the window is kept";
  block.unlock();
  EXPECT_FALSE(engineEnabled());
}

// Ending the card frees its program buffer: the engine must be stopped
// before, or a ring left running fetches from memory handed on.
TEST_F(DmaFault, EndingTheCardStopsItsEngineFirst) {
  ASSERT_EQ(TernCardSnapToMem(handle(), kTarget, kTwoFrames, 0, 2), 1);
  ASSERT_TRUE(engineEnabled());
  card.clearLog();
  EXPECT_EQ(EndTernCard(handle()), 1);
  EXPECT_FALSE(engineEnabled());
  EXPECT_EQ(card.writesTo(REG_CAPTURE_CONTROL), std::vector<uint32_t>{0});
  EXPECT_EQ(card.writesTo(REG_DMA_CONTROL), std::vector<uint32_t>{0});
}

}  // namespace
}  // namespace terncard
