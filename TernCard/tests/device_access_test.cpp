// Register primitives, the I2C engine with its poll limits, and the board
// access exports, against the fake card.
#include <gtest/gtest.h>

#include <cstring>

#include "fake_card.h"
#include "i2c_bus.h"
#include "lx/terncard.h"
#include "lx/internal/terncard_ioctl.h"
#include "register_access.h"
#include "register_map.h"

namespace terncard {
namespace {

using testing::FakeCard;
using testing::TestContext;

uint8_t code(uint32_t command) { return static_cast<uint8_t>(command); }

class DeviceAccess : public ::testing::Test {
 protected:
  FakeCard card;
  TestContext block;
};

TEST_F(DeviceAccess, RegSetFieldMergesIntoTheShadowAndWritesTheCell) {
  TernCardContext* context = block.lock();
  context->registerShadow[shadowCellOf(REG_CONTRAST)] = 0xFF;
  RegSetField(context, REG_CONTRAST, 0x30, 2, 4);
  EXPECT_EQ(context->registerShadow[shadowCellOf(REG_CONTRAST)], 0xEFu);
  EXPECT_EQ(card.writesTo(REG_CONTRAST), std::vector<uint32_t>{0xEF});
  EXPECT_EQ(card.reg(REG_CONTRAST), 0xEFu);

  // The shift counts modulo 32; GPIO data has its own cell.
  RegSetField(context, REG_CONTRAST, 0x1, 1, 32);
  EXPECT_EQ(card.reg(REG_CONTRAST), 0xEFu);
  RegSetFieldInCell(context, REG_GPIO_DATA, &context->registerShadow[kGpioDataShadowCell], 0x0C, 2, 2);
  EXPECT_EQ(context->registerShadow[kGpioDataShadowCell], 0x8u);
  EXPECT_EQ(card.reg(REG_GPIO_DATA), 0x8u);
  block.unlock();
}

TEST_F(DeviceAccess, RawAccessSendsNothingWithoutAPointerAndKeepsTheWordOnFailure) {
  TernCardContext* context = block.lock();
  RegWrite(context, REG_HUE, nullptr);
  RegRead(context, REG_HUE, nullptr);
  EXPECT_TRUE(card.log.empty());

  card.setReg(REG_HUE, 0x1234);
  uint32_t word = 0xAAAA5555;
  card.failRequests = true;
  RegRead(context, REG_HUE, &word);
  EXPECT_EQ(word, 0xAAAA5555u);
  card.failRequests = false;
  RegRead(context, REG_HUE, &word);
  EXPECT_EQ(word, 0x1234u);
  ASSERT_EQ(card.log.size(), 2u);
  EXPECT_EQ(card.log[1].operation, TERN_REG_READ_WORD);
  EXPECT_EQ(card.log[1].offset, REG_HUE);
  block.unlock();
}

TEST_F(DeviceAccess, I2cReadOfOneByteIsTwoStepsAndTakesBits15To8) {
  card.controller[22] = 0x5A;
  uint8_t byte = 0;
  ASSERT_EQ(GetI2CParam(block.handle(), 126, 22, &byte, 1), 1);
  EXPECT_EQ(byte, 0x5A);
  ASSERT_EQ(card.i2cCommands.size(), 2u);
  EXPECT_EQ(card.i2cCommands[0], (126u << 24) | (22u << 16) | 0xAB);
  EXPECT_EQ(card.i2cCommands[1], (127u << 24) | 0x8B);
  // Each step's done bit was cleared.
  EXPECT_EQ(card.writesTo(REG_INT_STATUS), (std::vector<uint32_t>{0x100, 0x100}));
  EXPECT_EQ(block.lockCount(), 0u);
}

TEST_F(DeviceAccess, I2cReadOfSeveralBytesWalksFirstMiddleAndLastSteps) {
  const char serial[] = "TC0123456789";
  std::memcpy(card.controller.data(), serial, 12);
  uint8_t buffer[12] = {};
  ASSERT_EQ(GetI2CParam(block.handle(), 126, 0, buffer, 12), 1);
  EXPECT_EQ(std::memcmp(buffer, serial, 12), 0);
  ASSERT_EQ(card.i2cCommands.size(), 13u);
  EXPECT_EQ(code(card.i2cCommands[0]), 0xAB);
  EXPECT_EQ(card.i2cCommands[1], (127u << 24) | 0xAF);
  for (int k = 2; k < 12; ++k) EXPECT_EQ(card.i2cCommands[k], 0xBFu);
  EXPECT_EQ(card.i2cCommands[12], 0x9Bu);
}

TEST_F(DeviceAccess, I2cWriteSendsEveryByteAndStopsAfterTheLast) {
  uint8_t data[3] = {0x11, 0x22, 0x33};
  ASSERT_EQ(SetI2CParam(block.handle(), 126, 80, data, 3), 1);
  EXPECT_EQ(card.i2cCommands,
            (std::vector<uint32_t>{(126u << 24) | (80u << 16) | 0xAB, 0x110000BF, 0x220000BF, 0x3300009F}));
  EXPECT_EQ(card.channelWrites, (std::vector<uint8_t>{0x11, 0x22, 0x33}));

  card.clearLog();
  EXPECT_EQ(SetI2CParam(block.handle(), 126, 80, data, 0), 0);
  EXPECT_TRUE(card.log.empty());
}

TEST_F(DeviceAccess, I2cStepsGiveUpAtTheirPollLimitsAndNeverReportSuccess) {
  TernCardContext* context = block.lock();
  uint8_t byte = 0;

  // A start step that never completes: 65536 polls, then failure.
  card.pollsUntilDone = 0;
  EXPECT_NE(I2cWrite(context, 126, 80, &byte, 1), 0u);
  EXPECT_EQ(card.statusPolls, kStepPollLimit);
  EXPECT_EQ(card.i2cCommands.size(), 1u);

  // The status word never had a bit set: the failure is still nonzero.
  card.clearLog();
  EXPECT_EQ(I2cRead(context, 126, 21, &byte, 1), kI2cFailed);
  EXPECT_EQ(card.statusPolls, kStepPollLimit);
  // I2cRead clears once polling has ended, even without the done bit.
  EXPECT_EQ(card.writesTo(REG_INT_STATUS).size(), 1u);

  // The read-address step may take 4096 polls, not one more.
  card.pollsUntilDone = 1;
  card.slowStepCode = 0x8B;
  card.slowStepPolls = 4096;
  card.clearLog();
  EXPECT_EQ(I2cRead(context, 126, 21, &byte, 1), 0u);
  card.slowStepPolls = 4097;
  card.clearLog();
  EXPECT_NE(I2cRead(context, 126, 21, &byte, 1), 0u);
  EXPECT_EQ(card.statusPolls, 1 + kReadAddressPollLimit);

  // A middle byte fails at 4096 polls.
  uint8_t block3[3];
  card.slowStepCode = 0xBF;
  card.slowStepPolls = 4095;
  EXPECT_EQ(I2cRead(context, 126, 0, block3, 3), 0u);
  card.slowStepPolls = 4096;
  EXPECT_NE(I2cRead(context, 126, 0, block3, 3), 0u);

  // A timed-out middle byte of a write ends the transfer as a failure.
  card.slowStepPolls = 0;
  card.clearLog();
  uint8_t data[3] = {1, 2, 3};
  EXPECT_NE(I2cWrite(context, 126, 80, data, 3), 0u);
  EXPECT_EQ(card.i2cCommands.size(), 2u);

  EXPECT_EQ(I2cRead(context, 126, 0, block3, 0), kI2cFailed);
  block.unlock();
}

TEST_F(DeviceAccess, BoardSignatureIsReadFromSubAddress12) {
  TernCardContext* context = block.lock();
  EXPECT_TRUE(boardHasSignature(context));
  card.setSignature(false);
  EXPECT_FALSE(boardHasSignature(context));
  card.setSignature(true);
  card.pollsUntilDone = 0;
  EXPECT_FALSE(boardHasSignature(context));
  block.unlock();
}

TEST_F(DeviceAccess, RejectedHandlesAreRefusedWithoutARequest) {
  SlotInfo slot{};
  uint32_t word = 0;
  uint8_t byte = 0;
  for (uint64_t rejected : {0ull, 1ull, 2ull, 3ull, 0xFFFFFFFFull}) {
    EXPECT_EQ(GetSlotInfo(rejected, &slot), 0);
    EXPECT_EQ(Get32BitParam(rejected, REG_HUE, &word), 0);
    EXPECT_EQ(Set32BitParam(rejected, REG_HUE, 1), 0);
    EXPECT_EQ(GetI2CParam(rejected, 126, 21, &byte, 1), 0);
    EXPECT_EQ(SetI2CParam(rejected, 126, 21, &byte, 1), 0);
    EXPECT_EQ(TernCardGetBoardInfos(rejected, 4, &byte), 0);
  }
  EXPECT_EQ(GetSlotInfo(block.handle(), nullptr), 0);
  EXPECT_TRUE(card.log.empty());
}

TEST_F(DeviceAccess, SlotInfoAndRawRegistersPassThroughTheDriver) {
  SlotInfo slot{};
  ASSERT_NE(GetSlotInfo(block.handle(), &slot), 0);
  EXPECT_EQ(slot.deviceNumber, 5);
  EXPECT_EQ(slot.functionNumber, 1);
  EXPECT_EQ(slot.busNumber, 2u);
  EXPECT_EQ(slot.slotNumber, 7u);
  card.failRequests = true;
  EXPECT_EQ(GetSlotInfo(block.handle(), &slot), 0);
  card.failRequests = false;

  TernCardContext* context = block.lock();
  const uint32_t shadowBefore = context->registerShadow[shadowCellOf(REG_HUE)];
  block.unlock();
  ASSERT_EQ(Set32BitParam(block.handle(), REG_HUE, 0xCAFE), 1);
  EXPECT_EQ(card.reg(REG_HUE), 0xCAFEu);
  context = block.lock();
  EXPECT_EQ(context->registerShadow[shadowCellOf(REG_HUE)], shadowBefore) << "raw writes bypass the shadow";
  block.unlock();

  uint32_t word = 0;
  ASSERT_EQ(Get32BitParam(block.handle(), REG_HUE, &word), 1);
  EXPECT_EQ(word, 0xCAFEu);

  // Offsets outside the 4 KiB window or between registers are refused.
  card.clearLog();
  EXPECT_EQ(Get32BitParam(block.handle(), 0x1000, &word), 0);
  EXPECT_EQ(Set32BitParam(block.handle(), 0xFFFE, 1), 0);
  EXPECT_EQ(Set32BitParam(block.handle(), REG_HUE + 2, 1), 0);
  EXPECT_EQ(Get32BitParam(block.handle(), REG_HUE, nullptr), 0);
  EXPECT_TRUE(card.log.empty());
  EXPECT_EQ(Get32BitParam(block.handle(), 0xFFC, &word), 1);
  EXPECT_EQ(block.lockCount(), 0u);
}

TEST_F(DeviceAccess, BoardInformationKinds) {
  const char serial[] = "TC0123456789";
  std::memcpy(card.controller.data(), serial, 12);
  std::memcpy(card.controller.data() + 14, "1.2.3", 5);
  card.controller[21] = 0x2B;
  card.controller[22] = 4;
  uint8_t buffer[16] = {};
  ASSERT_EQ(TernCardGetBoardInfos(block.handle(), 0, buffer), 1);
  EXPECT_EQ(std::memcmp(buffer, "KZ", 2), 0);
  ASSERT_EQ(TernCardGetBoardInfos(block.handle(), 1, buffer), 1);
  EXPECT_EQ(std::memcmp(buffer, serial, 12), 0);
  ASSERT_EQ(TernCardGetBoardInfos(block.handle(), 3, buffer), 1);
  EXPECT_EQ(std::memcmp(buffer, "1.2.3", 5), 0);
  ASSERT_EQ(TernCardGetBoardInfos(block.handle(), 4, buffer), 1);
  EXPECT_EQ(buffer[0], 0x0B);
  ASSERT_EQ(TernCardGetBoardInfos(block.handle(), 5, buffer), 1);
  EXPECT_EQ(buffer[0], 0x02);
  ASSERT_EQ(TernCardGetBoardInfos(block.handle(), 6, buffer), 1);
  EXPECT_EQ(buffer[0], 4);

  // The board switch: kind 2 exchanges 1 and 2, kind 7 does not.
  const uint8_t exchanged[4] = {0, 2, 1, 3};
  for (uint32_t lines = 0; lines < 4; ++lines) {
    card.setReg(REG_GPIO_DATA, 0xF0 | lines);
    ASSERT_EQ(TernCardGetBoardInfos(block.handle(), 2, buffer), 1);
    EXPECT_EQ(buffer[0], exchanged[lines]);
    ASSERT_EQ(TernCardGetBoardInfos(block.handle(), 7, buffer), 1);
    EXPECT_EQ(buffer[0], lines);
  }

  buffer[0] = 0xEE;
  EXPECT_EQ(TernCardGetBoardInfos(block.handle(), 8, buffer), 0);
  // A failed read reports the last status word (the acknowledge bit left
  // by the previous transfer) and writes nothing.
  card.pollsUntilDone = 0;
  buffer[0] = 0xEE;
  EXPECT_EQ(TernCardGetBoardInfos(block.handle(), 5, buffer), static_cast<int32_t>(kI2cAcknowledged));
  EXPECT_EQ(buffer[0], 0xEE);
  EXPECT_EQ(block.lockCount(), 0u);
}

// A controller that never answers on a card whose field-start bit (status
// bit 0) is set and never cleared: the last status word read is exactly 1,
// which must not come back as the success of either layer.
TEST_F(DeviceAccess, FailedControllerReadsNeverReadAsSuccess) {
  card.pollsUntilDone = 0;
  card.setReg(REG_INT_STATUS, 1);
  TernCardContext* context = block.lock();
  uint8_t bytes[12] = {};
  EXPECT_EQ(I2cRead(context, 126, 21, bytes, 1), kI2cFailed);
  EXPECT_EQ(I2cWrite(context, 126, 80, bytes, 1), kI2cFailed);
  block.unlock();
  for (uint8_t kind : {0, 1, 3, 4, 5, 6}) {
    SCOPED_TRACE(int{kind});
    std::memset(bytes, 0xEE, sizeof bytes);
    const int32_t result = TernCardGetBoardInfos(block.handle(), kind, bytes);
    EXPECT_NE(result, 1);
    EXPECT_NE(result, 0);
    EXPECT_EQ(bytes[0], 0xEE) << "nothing written";
  }
  EXPECT_EQ(GetI2CParam(block.handle(), 126, 21, bytes, 1), 0);
}

}  // namespace
}  // namespace terncard
