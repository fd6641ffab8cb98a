#include "lxmachine/hw/device_factory.h"
#include "lxmachine/hw/display_adapter.h"
#include "terncard_harness.h"

namespace lxhw::tern::testing {
namespace {

TEST(TernCardRegisters, ResetValuesAndUnusedOffsets) {
    CardHarness h;
    EXPECT_EQ(h.card->identity().vendor, pci::kLxVendor);
    EXPECT_EQ(h.card->identity().device, pci::kTernCardDevice);
    EXPECT_EQ(h.card->bar(0).size, 0x1000u);
    EXPECT_TRUE(h.card->usesInterrupt());

    auto checkTable = [&] {
        for (uint32_t k = 0; k < kRegisterCells; ++k) {
            const uint32_t offset = 4 * k;
            if (offset == kVideoStatus) continue;  // live status
            const uint32_t expected = storedBits(offset) ? kInitialRegisters[k] : 0;
            EXPECT_EQ(h.read(offset), expected) << "offset 0x" << std::hex << offset;
        }
    };
    checkTable();
    EXPECT_EQ(h.read(kPixelFormat), 0x44u);
    EXPECT_EQ(h.read(kI2c), 3u);

    // Offsets that hold nothing read 0 whatever is written to them.
    for (uint32_t offset : {0x044u, 0x05Cu, 0x070u, 0x108u, 0x11Cu, 0x124u, 0x300u, 0xFFCu}) {
        h.write(offset, 0xFFFFFFFF);
        EXPECT_EQ(h.read(offset), 0u) << std::hex << offset;
    }

    // Scribble over every register, then reset the card with a write of 0.
    for (uint32_t k = 0; k < kRegisterCells; ++k) {
        if (4 * k != kReset && 4 * k != kCaptureControl && 4 * k != kDmaControl && 4 * k != kI2c)
            h.write(4 * k, 0x5A);
    }
    h.write(kGpioEnable, 0xFFFFFF);
    h.write(kGpioData, 0x123456);
    EXPECT_EQ(h.read(kPixelFormat), 0x5Au);
    EXPECT_EQ(h.read(kGpioData), 0x123456u);
    h.write(kReset, 1);  // only 0 resets
    EXPECT_EQ(h.read(kPixelFormat), 0x5Au);
    h.write(kReset, 0);
    checkTable();
    EXPECT_EQ(h.read(kGpioEnable), 0u);
    EXPECT_EQ(h.read(kProgramCounter), 0u);

    // Byte accesses see the little-endian bytes of the word.
    h.write(kProgramStart, 0x12345678);
    EXPECT_EQ(h.read(kProgramStart), 0x12345678u & ~3u);
    EXPECT_EQ(h.card->barRead(0, kProgramStart + 1, 1), 0x56u);
    h.card->barWrite(0, kProgramStart + 3, 1, 0xAB);
    EXPECT_EQ(h.read(kProgramStart), 0xAB345678u & ~3u);
}

TEST(TernCardRegisters, StatusBitsClearOnlyWhereOnesAreWritten) {
    CardHarness h;
    // An I2C step latches done and acknowledge.
    h.write(kI2c, uint32_t{BoardController::kAddress} << 24 | uint32_t{BoardController::kSubRevision} << 16 |
                      kI2cStartWrite);
    ASSERT_TRUE(waitFor([&] { return h.read(kIntStatus) & kIntI2cDone; }));
    EXPECT_TRUE(h.read(kIntStatus) & kIntI2cAck);
    h.write(kIntStatus, kIntI2cDone);
    EXPECT_FALSE(h.read(kIntStatus) & kIntI2cDone);
    EXPECT_TRUE(h.read(kIntStatus) & kIntI2cAck);
    h.card->barWrite(0, kIntStatus + 3, 1, 0x02);  // bit 25 by a byte write
    EXPECT_FALSE(h.read(kIntStatus) & kIntI2cAck);

    // With the status bit enabled the interrupt line follows it.
    h.write(kIntEnable, kIntFieldStart);
    ASSERT_TRUE(waitFor([&] { return h.card->interruptAsserted(); }));
    h.write(kIntEnable, 0);
    EXPECT_FALSE(h.card->interruptAsserted());
}

TEST(TernCardRegisters, MadeByTheFactoryFromTheMachineConfiguration) {
    lxm::MachineConfig machine;
    machine.clockFactor = 4.0;
    machine.terncards.resize(2);
    machine.terncards[1].signature = false;
    machine.terncards[1].boardSwitch = 3;
    machine.terncards[1].sources = {"bars", "none", "image:/missing.png", "none"};
    auto function = makeDevice("terncard", DeviceRequest{&machine, &machine.terncards[1], nullptr, nullptr});
    TernCard* card = asTernCard(function.get());
    ASSERT_TRUE(card);
    EXPECT_EQ(card->clockFactor(), 4.0);
    EXPECT_EQ(card->boardSwitch(), 3);
    EXPECT_EQ(card->sourceName(0), "bars");
    EXPECT_EQ(card->sourceName(2), "none");  // the picture could not be read
    EXPECT_NE(card->setupErrors().find("/missing.png"), std::string::npos);
    EXPECT_EQ(card->barRead(0, kPixelFormat, 4), 0x44u);
    DisplayMode mode;
    ASSERT_TRUE(DisplayAdapter::modeFor(640, 480, 32, DisplayAdapter::kDefaultVramSize, &mode));
    DisplayAdapter display(DisplayAdapter::kDefaultVramBase, DisplayAdapter::kDefaultVramSize, mode);
    EXPECT_EQ(asTernCard(&display), nullptr);
    function->powerOff();
}

TEST(TernCardRegisters, GeneralPurposeLinesAndBoardSwitch) {
    TernCardSetup setup;
    setup.boardSwitch = 1;
    CardHarness h(setup);
    EXPECT_EQ(h.read(kGpioData) & 3, 1u);
    std::string error;
    ASSERT_TRUE(h.card->setBoardSwitch(2, &error));
    EXPECT_EQ(h.read(kGpioData), 2u);
    EXPECT_FALSE(h.card->setBoardSwitch(4, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(h.card->boardSwitch(), 2);

    // Lines 2 and 3 as outputs drive the audio range; inputs keep reading the board.
    h.write(kGpioEnable, 0x0C);
    h.write(kGpioData, 0x08 | 0x01 | 0xF00);
    EXPECT_EQ(h.read(kGpioData), 0x08u | 2u);
    h.write(kGpioEnable, 0xFFFFFF);
    EXPECT_EQ(h.read(kGpioData), 0xF09u);
}

TEST(TernCardRegisters, SignalPresenceFollowsTheSelectedInput) {
    TernCardSetup setup;
    setup.sources = {"none", "bars", "none", "none"};
    CardHarness h(setup);
    EXPECT_FALSE(h.read(kVideoStatus) & kStatusSignalPresent);
    h.write(kInputFormat, kFormatPal | 1 << kFormatMuxShift);
    EXPECT_TRUE(h.read(kVideoStatus) & kStatusSignalPresent);

    std::string error;
    EXPECT_FALSE(h.card->setSource(1, "image:/no/such/picture.png", &error));
    EXPECT_NE(error.find("/no/such/picture.png"), std::string::npos);
    EXPECT_EQ(h.card->sourceName(1), "bars");  // a bad name loses nothing
    EXPECT_FALSE(h.card->setSource(1, "colourful", &error));
    EXPECT_FALSE(h.card->setSource(4, "bars", &error));
    ASSERT_TRUE(h.card->setSource(1, "none", &error));
    EXPECT_FALSE(h.read(kVideoStatus) & kStatusSignalPresent);
}

}  // namespace
}  // namespace lxhw::tern::testing

namespace lxhw::tern::testing {
namespace {

TEST(TernCardTiming, FieldIndicatorAlternatesWithTheFieldNumber) {
    CardHarness h({}, 20.0);  // PAL: 1000 fields per second of host time
    const auto begin = std::chrono::steady_clock::now();
    const uint64_t firstField = h.card->fieldNumber();
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(h.waitOdd());  // a first field has just begun
        EXPECT_EQ(h.card->fieldNumber() % 2, 0u);
        ASSERT_TRUE(h.waitEven());
        EXPECT_EQ(h.card->fieldNumber() % 2, 1u);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    const double fields = double(h.card->fieldNumber() - firstField);
    EXPECT_GE(fields, 40);
    // Loosely at the configured rate: not a timing measurement, a check that
    // the clock factor is applied at all (1.0 would give 50 per second).
    EXPECT_GT(fields / seconds, 250.0);
}

// The field clock: the host's monotonic time at each field end, read as two
// words (the low word latches the high one).
TEST(TernCardTiming, FieldClockHoldsTheHostTimeOfTheLastFieldEnd) {
    CardHarness h({}, 20.0);
    auto nowNs = [] {
        return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                         std::chrono::steady_clock::now().time_since_epoch())
                                         .count());
    };
    auto fieldEnd = [&] {
        const uint64_t low = h.read(kFieldEndTimeLo);
        return static_cast<uint64_t>(h.read(kFieldEndTimeHi)) << 32 | low;
    };
    ASSERT_TRUE(h.waitOdd());
    const uint64_t first = fieldEnd();
    const uint64_t afterFirst = nowNs();
    EXPECT_LE(first, afterFirst);
    EXPECT_GT(first + 5'000'000, afterFirst) << "the field that just ended, not an older one";
    ASSERT_TRUE(h.waitEven());
    const uint64_t second = fieldEnd();
    EXPECT_GT(second, first);
    EXPECT_LE(second, nowNs());
    // One field at 1000 fields a second of host time: about 1 ms apart.
    EXPECT_GE(second - first, 500'000u);
    h.write(kFieldEndTimeLo, 0);  // read-only
    h.write(kFieldEndTimeHi, 0);
    EXPECT_GE(fieldEnd(), second);
}

}  // namespace
}  // namespace lxhw::tern::testing
