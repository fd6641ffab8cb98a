// Audio lines, the controller's command channel and device control against
// the fake card: the bytes on the bus, the line settings, the refusals that
// send nothing, and command traffic kept apart from other I2C users.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "fake_card.h"
#include "lx/terncard.h"
#include "lx/terncard_command.h"
#include "register_map.h"

namespace terncard {
namespace {

using testing::FakeCard;
using testing::TestContext;
using Words = std::vector<uint32_t>;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t startAt(uint8_t sub) { return (126u << 24) | (uint32_t{sub} << 16) | 0xAB; }
constexpr uint32_t next(uint8_t byte) { return (uint32_t{byte} << 24) | 0xBF; }
constexpr uint32_t last(uint8_t byte) { return (uint32_t{byte} << 24) | 0x9F; }
constexpr uint32_t kReadOne = (127u << 24) | 0x8B;
constexpr uint32_t kReadFirst = (127u << 24) | 0xAF;
constexpr uint32_t kReadMiddle = 0xBF;
constexpr uint32_t kReadLast = 0x9B;
const Words kStatusRead = {startAt(83), kReadOne};

Words concat(Words a, const Words& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class ControllerCommands : public ::testing::Test {
 protected:
  void SetUp() override { card.controller[83] = '<'; }

  int32_t command(uint32_t type, TernCardCommandRecord record, uint32_t size = 32) {
    return TernCardCommand(block.handle(), type, &record, &size);
  }

  FakeCard card;
  TestContext block;
  uint8_t data[3] = {0xD0, 0xD1, 0xD2};
};

TEST_F(ControllerCommands, MessageSendsCountsHeaderAndDataThenReadsTheStatus) {
  ASSERT_EQ(command(TERN_COMMAND_MESSAGE, {nullptr, 0, 0, data, 3, 0}), 1);
  EXPECT_EQ(card.i2cCommands,
            concat({startAt(80), next(0), next(3), next(0xD0), next(0xD1), last(0xD2)}, kStatusRead));
  EXPECT_EQ(card.channelWrites, (Bytes{0, 3, 0xD0, 0xD1, 0xD2}));
  EXPECT_EQ(card.writesTo(REG_GPIO_ENABLE), Words{0}) << "the status check lets every line go";
  EXPECT_EQ(block.lockCount(), 0u);

  // Only the low 8 bits of the counts are used.
  card.clearLog();
  const uint8_t header[2] = {0xA1, 0xA2};
  ASSERT_EQ(command(TERN_COMMAND_MESSAGE, {header, 0x102, 0, data, 0x301, 0}), 1);
  EXPECT_EQ(card.channelWrites, (Bytes{2, 0xA1, 0xA2, 1, 0xD0}));

  // A status other than '<' fails the command.
  card.controller[83] = '!';
  EXPECT_EQ(command(TERN_COMMAND_MESSAGE, {nullptr, 0, 0, data, 3, 0}), 0);
}

TEST_F(ControllerCommands, RefusedCommandsSendNothing) {
  uint32_t size = 16;
  TernCardCommandRecord record{nullptr, 0, 0x10, data, 3, 0};
  EXPECT_EQ(TernCardCommand(block.handle(), TERN_COMMAND_WRITE, &record, &size), 0);
  EXPECT_EQ(size, 16u);
  size = 32;
  EXPECT_EQ(TernCardCommand(block.handle(), TERN_COMMAND_MESSAGE, nullptr, &size), 0);
  EXPECT_EQ(TernCardCommand(block.handle(), TERN_COMMAND_MESSAGE, &record, nullptr), 0);
  for (uint32_t type : {TERN_COMMAND_MESSAGE, TERN_COMMAND_WRITE, TERN_COMMAND_READ}) {
    EXPECT_EQ(command(type, {nullptr, 0, 0, data, 0x100, 0}), 0) << "no data bytes, type " << type;
    EXPECT_EQ(command(type, {nullptr, 2, 0, data, 3, 0}), 0) << "header count without header, type " << type;
    EXPECT_EQ(command(type, {nullptr, 0, 0, nullptr, 3, 0}), 0) << "no data buffer, type " << type;
  }
  // Unknown types are answered with size 0 and success.
  for (uint32_t type : {3u, 7u, 16u, 0xFFFFFFFFu}) {
    size = 32;
    EXPECT_EQ(TernCardCommand(block.handle(), type, &record, &size), 1) << type;
    EXPECT_EQ(size, 0u) << type;
  }
  // Handles that do not lock.
  size = 32;
  for (uint64_t rejected : {0ull, 2ull, 0xFFFFFFFFull}) {
    EXPECT_EQ(TernCardCommand(rejected, 7, &record, &size), 0);
    EXPECT_EQ(size, 32u);
  }
  EXPECT_TRUE(card.log.empty());
  EXPECT_EQ(block.lockCount(), 0u);
}

TEST_F(ControllerCommands, MissingAcknowledgeOrTimeOutEndsTheTransferAtThatStep) {
  card.unacknowledgedCommand = 3;  // the data count byte
  EXPECT_EQ(command(TERN_COMMAND_MESSAGE, {nullptr, 0, 0, data, 3, 0}), 0);
  EXPECT_EQ(card.i2cCommands, (Words{startAt(80), next(0), next(3)})) << "no further byte, no status read";

  card.clearLog();
  card.unacknowledgedCommand = 0;
  card.slowStepCode = 0x9F;
  card.slowStepPolls = 0;  // the last byte never completes
  EXPECT_EQ(command(TERN_COMMAND_MESSAGE, {nullptr, 0, 0, data, 3, 0}), 0);
  EXPECT_EQ(card.i2cCommands.back(), last(0xD2));
  EXPECT_EQ(card.statusPolls, 5 + 65536u);
}

TEST_F(ControllerCommands, MemoryWriteDrivesTheLinesAndSendsHeaderAddressAndData) {
  const uint32_t gpioShadow = block.lock()->registerShadow[kGpioDataShadowCell] = 0x08;
  block.unlock();
  const uint8_t header[1] = {0xE7};
  ASSERT_EQ(command(TERN_COMMAND_WRITE, {header, 1, 0x1234, data, 2, 0}), 1);
  EXPECT_EQ(card.i2cCommands, concat({startAt(81), next(1), next(0xE7), next(0x12), next(0x34), next(2), next(0xD0),
                                      last(0xD1)},
                                     kStatusRead));
  EXPECT_EQ(card.writesTo(REG_GPIO_DATA), Words{0x7FFFFF});
  EXPECT_EQ(card.writesTo(REG_GPIO_ENABLE), (Words{0xFFFFFF, 0}));
  EXPECT_EQ(block.lock()->registerShadow[kGpioDataShadowCell], gpioShadow) << "raw writes leave the shadow";
  block.unlock();

  // Without a header the count 0 stands alone.
  card.clearLog();
  ASSERT_EQ(command(TERN_COMMAND_WRITE, {nullptr, 0, 0x0200, data, 1, 0}), 1);
  EXPECT_EQ(card.channelWrites, (Bytes{0, 0x02, 0x00, 1, 0xD0}));

  // A failed transfer lets the lines go too.
  card.clearLog();
  card.unacknowledgedCommand = 2;
  EXPECT_EQ(command(TERN_COMMAND_WRITE, {nullptr, 0, 0x0200, data, 1, 0}), 0);
  EXPECT_EQ(card.writesTo(REG_GPIO_ENABLE), (Words{0xFFFFFF, 0}));
  EXPECT_EQ(card.i2cCommands.size(), 2u);
}

TEST_F(ControllerCommands, MemoryReadSendsAddressThenHeaderAndFillsTheBuffer) {
  card.controller[82] = 0x61;
  card.controller[84] = 0x63;  // the fake reads on from sub-address 82 (83 holds '<')
  uint8_t buffer[3] = {};
  const uint8_t header[1] = {0xC1};
  ASSERT_EQ(command(TERN_COMMAND_READ, {header, 1, 0x0102, buffer, 3, 0}), 1);
  EXPECT_EQ(card.i2cCommands, (Words{startAt(82), next(0x01), next(0x02), next(1), next(0xC1), kReadFirst,
                                     kReadMiddle, kReadLast}))
      << "no status check after a read";
  EXPECT_EQ((Bytes{buffer[0], buffer[1], buffer[2]}), (Bytes{0x61, '<', 0x63}));
  EXPECT_EQ(card.writesTo(REG_GPIO_DATA), Words{0x7FFFFF});
  EXPECT_EQ(card.writesTo(REG_GPIO_ENABLE), (Words{0xFFFFFF, 0}));

  // No header: the address alone; one byte is a single read step.
  card.clearLog();
  ASSERT_EQ(command(TERN_COMMAND_READ, {nullptr, 0, 0x0304, buffer, 1, 0}), 1);
  EXPECT_EQ(card.i2cCommands, (Words{startAt(82), next(0x03), next(0x04), kReadOne}));

  // A read step without acknowledge fails and leaves the lines as inputs.
  card.clearLog();
  card.unacknowledgedCommand = 4;
  EXPECT_EQ(command(TERN_COMMAND_READ, {nullptr, 0, 0x0304, buffer, 1, 0}), 0);
  EXPECT_EQ(card.writesTo(REG_GPIO_ENABLE), (Words{0xFFFFFF, 0}));
}

TEST_F(ControllerCommands, DeviceControlTypes) {
  const uint64_t h = block.handle();
  uint8_t out[8] = {0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55};
  uint32_t size = 9;
  ASSERT_EQ(TernCardDeviceControl(h, 0, out, &size), 1);
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(size, 1u);
  EXPECT_TRUE(card.log.empty()) << "type 0 does not touch the card";

  // Type 1: the whole reply block is read; byte 129 is the answer.
  for (int k = 0; k < 255; ++k) card.replyBlock[k] = static_cast<uint8_t>(k);
  card.replyBlock[129] = 0xC9;
  size = 0;
  ASSERT_EQ(TernCardDeviceControl(h, 1, out, &size), 1);
  EXPECT_EQ(out[0], 0xC9);
  EXPECT_EQ(size, 1u);
  ASSERT_EQ(card.i2cCommands.size(), 256u);
  EXPECT_EQ(card.i2cCommands[0], startAt(84));
  EXPECT_EQ(card.i2cCommands.back(), kReadLast);

  // A failed read keeps the output byte; the size is 1 either way.
  card.clearLog();
  card.slowStepCode = 0xAB;
  card.slowStepPolls = 0;
  out[0] = 0x55;
  size = 0;
  EXPECT_EQ(TernCardDeviceControl(h, 1, out, &size), 0);
  EXPECT_EQ(out[0], 0x55);
  EXPECT_EQ(size, 1u);
  card.slowStepCode = 0;

  // Type 2: the low byte of the size says how many bytes.
  size = 0x104;
  ASSERT_EQ(TernCardDeviceControl(h, 2, out, &size), 1);
  EXPECT_EQ((Bytes{out[0], out[1], out[2], out[3], out[4]}), (Bytes{0, 1, 2, 3, 0x55}));
  card.clearLog();
  size = 0x100;
  EXPECT_EQ(TernCardDeviceControl(h, 2, out, &size), 0);
  EXPECT_TRUE(card.log.empty());

  // Type 3: the reset request, then the status check.
  ASSERT_EQ(TernCardDeviceControl(h, 3, out, &size), 1);
  EXPECT_EQ(card.i2cCommands, concat({startAt(85), last(0xFF)}, kStatusRead));
  EXPECT_EQ(card.channelWrites, Bytes{0xFF});
  card.controller[83] = '!';
  EXPECT_EQ(TernCardDeviceControl(h, 3, out, &size), 0);

  card.clearLog();
  size = 5;
  EXPECT_EQ(TernCardDeviceControl(h, 4, out, &size), 0);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(TernCardDeviceControl(h, 0, nullptr, &size), 0);
  EXPECT_EQ(TernCardDeviceControl(h, 0, out, nullptr), 0);
  EXPECT_EQ(TernCardDeviceControl(2, 0, out, &size), 0);
  EXPECT_TRUE(card.log.empty());
  EXPECT_EQ(block.lockCount(), 0u);
}

TEST_F(ControllerCommands, AudioResetAndRangeOnLinesTwoAndThree) {
  const uint64_t h = block.handle();
  ASSERT_EQ(TernCardResetAudio(h), 1);
  EXPECT_EQ(card.writesTo(REG_AUDIO_RESET), (Words{0x80, 0, 0x80, 0}));

  TernCardContext* context = block.lock();
  context->registerShadow[kGpioDataShadowCell] = 0x01;
  context->registerShadow[shadowCellOf(REG_GPIO_ENABLE)] = 0x100;
  block.unlock();
  card.clearLog();
  ASSERT_EQ(TernCardSetAudioRange(h, 2), 1);
  EXPECT_EQ(card.writesTo(REG_GPIO_ENABLE), Words{0x10C});
  EXPECT_EQ(card.writesTo(REG_GPIO_DATA), Words{0x09}) << "bits 2-3 = 0b10, line 0 kept";
  EXPECT_EQ(block.lock()->audioRange, 2);
  block.unlock();

  // A memory transfer takes the lines; the next range comes from the shadow.
  ASSERT_EQ(command(TERN_COMMAND_WRITE, {nullptr, 0, 0, data, 1, 0}), 1);
  EXPECT_EQ(card.reg(REG_GPIO_DATA), 0x7FFFFFu);
  EXPECT_EQ(card.reg(REG_GPIO_ENABLE), 0u);
  ASSERT_EQ(TernCardSetAudioRange(h, 1), 1);
  EXPECT_EQ(card.reg(REG_GPIO_DATA), 0x05u);
  EXPECT_EQ(card.reg(REG_GPIO_ENABLE), 0x10Cu);
  // Only two bits reach the lines.
  ASSERT_EQ(TernCardSetAudioRange(h, 0xFF), 1);
  EXPECT_EQ(card.reg(REG_GPIO_DATA), 0x0Du);

  card.clearLog();
  for (uint64_t rejected : {0ull, 1ull, 2ull, 3ull, 0xFFFFFFFFull}) {
    EXPECT_EQ(TernCardResetAudio(rejected), 0);
    EXPECT_EQ(TernCardSetAudioRange(rejected, 1), 0);
  }
  EXPECT_TRUE(card.log.empty());
  EXPECT_EQ(block.lockCount(), 0u);
}

// Each transaction on the bus runs from its start to its stop before the
// next start: start, then written bytes ending in a stop, or a read.
bool transactionsInOnePiece(const Words& words) {
  enum { kIdle, kStarted, kWriting, kReading } state = kIdle;
  for (uint32_t word : words) {
    const uint8_t code = static_cast<uint8_t>(word);
    switch (state) {
      case kIdle:
        if (code != 0xAB) return false;
        state = kStarted;
        break;
      case kStarted:
        state = code == 0xBF ? kWriting : code == 0x9F || code == 0x8B ? kIdle : code == 0xAF ? kReading : kStarted;
        if (state == kStarted) return false;
        break;
      case kWriting:
        if (code == 0x9F) state = kIdle;
        else if (code != 0xBF) return false;
        break;
      case kReading:
        if (code == 0x9B) state = kIdle;
        else if (code != 0xBF) return false;
        break;
    }
  }
  return state == kIdle;
}

TEST_F(ControllerCommands, CommandTrafficNeverInterleavesWithOtherTransfers) {
  const char serial[] = "TC0123456789";
  std::copy(serial, serial + 12, card.controller.begin());
  constexpr int kCommands = 12;
  std::atomic<bool> commandsDone{false};
  std::atomic<int> badReads{0};
  std::thread reader([&] {
    while (!commandsDone.load()) {
      uint8_t identity[12] = {};
      if (TernCardGetBoardInfos(block.handle(), 1, identity) != 1 || !std::equal(identity, identity + 12, serial)) {
        badReads.fetch_add(1);
      }
    }
  });
  int accepted = 0;
  for (int k = 0; k < kCommands; ++k) {
    accepted += command(TERN_COMMAND_MESSAGE, {nullptr, 0, 0, data, 3, 0});
  }
  commandsDone = true;
  reader.join();
  EXPECT_EQ(accepted, kCommands);
  EXPECT_EQ(badReads.load(), 0);
  Bytes expected;
  for (int k = 0; k < kCommands; ++k) expected.insert(expected.end(), {0, 3, 0xD0, 0xD1, 0xD2});
  EXPECT_EQ(card.channelWrites, expected);
  EXPECT_TRUE(transactionsInOnePiece(card.i2cCommands));
}

}  // namespace
}  // namespace terncard
