#include "terncard_harness.h"

namespace lxhw::tern::testing {
namespace {

constexpr uint8_t kController = BoardController::kAddress;

TEST(TernCardI2c, ControllerIdentity) {
    TernCardSetup setup;
    setup.revision = 0x23;
    CardHarness h(setup);
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(h.i2cRead(kController, 12, &bytes, 2));
    EXPECT_EQ(bytes, (std::vector<uint8_t>{'K', 'Z'}));
    ASSERT_TRUE(h.i2cRead(kController, 21, &bytes, 1));
    EXPECT_EQ(bytes, std::vector<uint8_t>{0x23});
    ASSERT_TRUE(h.i2cRead(kController, 0, &bytes, 12));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "TC0000000001");
    ASSERT_TRUE(h.i2cRead(kController, 14, &bytes, 5));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "F1.07");
    ASSERT_TRUE(h.i2cRead(kController, 22, &bytes, 1));
    EXPECT_EQ(bytes, std::vector<uint8_t>{4});

    setup.signature = false;
    CardHarness unsigned_(setup);
    ASSERT_TRUE(unsigned_.i2cRead(kController, 12, &bytes, 2));
    EXPECT_NE(bytes, (std::vector<uint8_t>{'K', 'Z'}));
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0xFF, 0xFF}));
}

TEST(TernCardI2c, MissingDeviceDoesNotAcknowledge) {
    CardHarness h;
    const uint32_t status = h.i2cStep(0xA0u << 24 | 12u << 16 | kI2cStartWrite);
    EXPECT_TRUE(status & kIntI2cDone);  // the step ends, unanswered
    EXPECT_FALSE(status & kIntI2cAck);
    const uint32_t read = h.i2cStep(0xA1u << 24 | kI2cReadOne);
    EXPECT_TRUE(read & kIntI2cDone);
    EXPECT_FALSE(read & kIntI2cAck);
    EXPECT_EQ(h.received(), 0xFF);
    std::vector<uint8_t> bytes;
    EXPECT_FALSE(h.i2cRead(0xA0, 0, &bytes, 1));
    EXPECT_TRUE(h.i2cRead(kController, 21, &bytes, 1));  // the bus still works
}

TEST(TernCardI2c, StepsTakeBusTime) {
    // At the real clock a step of two bytes takes 0.2 ms: the first poll after
    // the command cannot see it done, yet it completes well within the poll limit.
    CardHarness h({}, 1.0);
    h.write(kI2c, uint32_t{kController} << 24 | 21u << 16 | kI2cStartWrite);
    EXPECT_FALSE(h.read(kIntStatus) & kIntI2cDone);
    EXPECT_TRUE(waitFor([&] { return h.read(kIntStatus) & kIntI2cDone; }, 1.0));
}

TEST(TernCardI2c, CommandChannel) {
    CardHarness h;
    std::vector<uint8_t> status;
    ASSERT_TRUE(h.i2cRead(kController, 83, &status, 1));
    EXPECT_EQ(status[0], 0);  // nothing done yet

    // A command message with no header: the count 0 stands alone, then 3, d0 d1 d2.
    ASSERT_TRUE(h.i2cWrite(kController, 80, {0, 3, 0x11, 0x22, 0x33}));
    ASSERT_TRUE(h.i2cRead(kController, 83, &status, 1));
    EXPECT_EQ(status[0], '<');
    EXPECT_EQ(h.card->controller().lastMessage(), (std::vector<uint8_t>{0, 3, 0x11, 0x22, 0x33}));
    std::vector<uint8_t> reply;
    ASSERT_TRUE(h.i2cRead(kController, 84, &reply, 255));
    EXPECT_EQ(reply[0], 0x11);
    EXPECT_EQ(reply[2], 0x33);
    EXPECT_EQ(reply[129], 1);  // one accepted operation

    // A message whose counts do not add up is rejected, also the old form
    // that sent a 0 in place of an empty header.
    ASSERT_TRUE(h.i2cWrite(kController, 80, {2, 0xAA, 0xBB, 4, 1}));
    ASSERT_TRUE(h.i2cRead(kController, 83, &status, 1));
    EXPECT_EQ(status[0], '!');
    ASSERT_TRUE(h.i2cWrite(kController, 80, {0, 0, 3, 0x11, 0x22, 0x33}));
    ASSERT_TRUE(h.i2cRead(kController, 83, &status, 1));
    EXPECT_EQ(status[0], '!');
    EXPECT_EQ(h.card->controller().lastMessage(), (std::vector<uint8_t>{0, 3, 0x11, 0x22, 0x33}));

    // Addressed write into controller memory and read back.
    ASSERT_TRUE(h.i2cWrite(kController, 81, {1, 0x7E, 0x01, 0x20, 4, 9, 8, 7, 6}));
    ASSERT_TRUE(h.i2cRead(kController, 83, &status, 1));
    EXPECT_EQ(status[0], '<');
    EXPECT_EQ(h.card->controller().memory(0x120, 4), (std::vector<uint8_t>{9, 8, 7, 6}));
    // The read: address bytes without stop, then a repeated start for the data.
    ASSERT_TRUE(h.i2cStep(uint32_t{kController} << 24 | 82u << 16 | kI2cStartWrite) & kIntI2cAck);
    ASSERT_TRUE(h.i2cStep(0x01u << 24 | kI2cNextByte) & kIntI2cAck);
    ASSERT_TRUE(h.i2cStep(0x21u << 24 | kI2cNextByte) & kIntI2cAck);
    ASSERT_TRUE(h.i2cStep(uint32_t{kController} << 24 | 0x01000000 | kI2cReadFirst) & kIntI2cAck);
    EXPECT_EQ(h.received(), 8);
    ASSERT_TRUE(h.i2cStep(kI2cReadLast) & kIntI2cDone);
    EXPECT_EQ(h.received(), 7);
    ASSERT_TRUE(h.i2cRead(kController, 84, &reply, 255));
    EXPECT_EQ(reply[129], 3);
    // Addressed write without a header: the count 0 is followed by the address.
    ASSERT_TRUE(h.i2cWrite(kController, 81, {0, 0x02, 0x00, 2, 0xA5, 0x5A}));
    ASSERT_TRUE(h.i2cRead(kController, 83, &status, 1));
    EXPECT_EQ(status[0], '<');
    EXPECT_EQ(h.card->controller().memory(0x200, 2), (std::vector<uint8_t>{0xA5, 0x5A}));

    // Writing to a read-only sub-address is not acknowledged.
    EXPECT_FALSE(h.i2cWrite(kController, 83, {1}));
    // An address beyond the controller's memory is refused.
    ASSERT_TRUE(h.i2cWrite(kController, 81, {0, 0x0F, 0xFF, 2, 1, 2}));
    ASSERT_TRUE(h.i2cRead(kController, 83, &status, 1));
    EXPECT_EQ(status[0], '!');

    // The reset request clears memory and the counter.
    ASSERT_TRUE(h.i2cWrite(kController, 85, {0xFF}));
    ASSERT_TRUE(h.i2cRead(kController, 83, &status, 1));
    EXPECT_EQ(status[0], '<');
    EXPECT_EQ(h.card->controller().memory(0x120, 4), (std::vector<uint8_t>{0, 0, 0, 0}));
    ASSERT_TRUE(h.i2cRead(kController, 84, &reply, 255));
    EXPECT_EQ(reply[129], 0);
}

TEST(TernCardI2c, ChannelRecordKeepsTheBytesOfEachCommandTransaction) {
    CardHarness h;
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(h.i2cRead(kController, 21, &bytes, 1));  // identity reads are not recorded
    ASSERT_TRUE(h.i2cWrite(kController, 80, {0, 3, 7, 8, 9}));
    ASSERT_TRUE(h.i2cRead(kController, 83, &bytes, 1));
    ASSERT_TRUE(h.i2cWrite(kController, 81, {0, 0x00, 0x10, 2, 0xC1, 0xC2}));
    // Addressed read: address phase and data in one transaction.
    ASSERT_TRUE(h.i2cStep(uint32_t{kController} << 24 | 82u << 16 | kI2cStartWrite) & kIntI2cAck);
    ASSERT_TRUE(h.i2cStep(0x00u << 24 | kI2cNextByte) & kIntI2cAck);
    ASSERT_TRUE(h.i2cStep(0x10u << 24 | kI2cNextByte) & kIntI2cAck);
    ASSERT_TRUE(h.i2cStep(uint32_t{kController} << 24 | 0x01000000 | kI2cReadFirst) & kIntI2cAck);
    ASSERT_TRUE(h.i2cStep(kI2cReadLast) & kIntI2cDone);
    // A byte refused at a read-only sub-address is not part of the record.
    EXPECT_FALSE(h.i2cWrite(kController, 84, {5}));

    const auto record = h.card->controller().channelRecord();
    ASSERT_EQ(record.size(), 5u);
    using Bytes = std::vector<uint8_t>;
    EXPECT_EQ(record[0].sub, 80);
    EXPECT_EQ(record[0].written, (Bytes{0, 3, 7, 8, 9}));
    EXPECT_TRUE(record[0].read.empty());
    EXPECT_EQ(record[1].sub, 83);
    EXPECT_TRUE(record[1].written.empty());
    EXPECT_EQ(record[1].read, Bytes{'<'});
    EXPECT_EQ(record[2].sub, 81);
    EXPECT_EQ(record[2].written, (Bytes{0, 0x00, 0x10, 2, 0xC1, 0xC2}));
    EXPECT_EQ(record[3].sub, 82);
    EXPECT_EQ(record[3].written, (Bytes{0x00, 0x10}));
    EXPECT_EQ(record[3].read, (Bytes{0xC1, 0xC2}));
    EXPECT_EQ(record[4].sub, 84);
    EXPECT_TRUE(record[4].written.empty());
    for (size_t k = 0; k < record.size(); ++k) EXPECT_EQ(record[k].number, k + 1);

    // Only the latest transactions are kept, still numbered from power-on.
    for (size_t k = 0; k < BoardController::kChannelRecordLength; ++k) {
        ASSERT_TRUE(h.i2cRead(kController, 83, &bytes, 1));
    }
    const auto latest = h.card->controller().channelRecord();
    ASSERT_EQ(latest.size(), BoardController::kChannelRecordLength);
    EXPECT_EQ(latest.front().number, 6u);
    EXPECT_EQ(latest.back().number, 5 + BoardController::kChannelRecordLength);
}

}  // namespace
}  // namespace lxhw::tern::testing
