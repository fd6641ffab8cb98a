// The card's requests from a client process: opening through the interface
// class, register words and bytes, exact lengths, the accepted codes, the
// register window's bounds and the card's slot.
#include <gtest/gtest.h>

#include <cstring>

#include "card_client.h"
#include "card_machine.h"

using namespace terncardvi_test;

namespace {

constexpr uint32_t kRegBrightness = 0x028;
constexpr uint32_t kRegPixelFormat = 0x0D4;
constexpr uint32_t kRegProgramStart = 0x114;  // keeps bits 31..2
constexpr uint32_t kWindowSize = 0x1000;

class CardRequests : public ::testing::Test {
protected:
    static void SetUpTestSuite() { machine_ = new CardMachine(); }
    static void TearDownTestSuite() {
        delete machine_;
        machine_ = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(machine_->booted());
        card_ = openCard(0);
        ASSERT_NE(card_, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        if (card_ != INVALID_HANDLE_VALUE) CloseHandle(card_);
    }

    void expectInvalidParameter(const IoResult& result) {
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.error, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        EXPECT_EQ(result.status, kStatusInvalidParameter);
        EXPECT_EQ(result.returned, 0u);
    }

    static CardMachine* machine_;
    HANDLE card_ = INVALID_HANDLE_VALUE;
};
CardMachine* CardRequests::machine_ = nullptr;

TEST_F(CardRequests, BothCardsOpenThroughTheInterfaceClassOneHandleEach) {
    const std::vector<std::string> paths = cardInterfacePaths();
    ASSERT_EQ(paths.size(), 2u);
    EXPECT_NE(paths[0], paths[1]);
    EXPECT_NE(paths[0].find("{8b0b849e-5ba2-4dae-88da-cf4ac99daa37}"), std::string::npos) << paths[0];

    HANDLE second = openCard(1);
    ASSERT_NE(second, INVALID_HANDLE_VALUE);
    uint32_t format = 0;
    EXPECT_TRUE(readWord(second, kRegPixelFormat, &format));
    EXPECT_EQ(format, 0x44u);  // the card's reset value

    // The device is exclusive: a second handle on an open card is refused.
    EXPECT_EQ(openPath(paths[1]), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(CloseHandle(second));
    second = openPath(paths[1]);
    EXPECT_NE(second, INVALID_HANDLE_VALUE);
    CloseHandle(second);
}

TEST_F(CardRequests, WordsAndBytesReachTheRegisters) {
    uint32_t value = 0;
    ASSERT_TRUE(readWord(card_, kRegPixelFormat, &value));
    EXPECT_EQ(value, 0x44u);

    RegisterRequest echo{};
    IoResult written = registerRequest(card_, TERN_REG_WRITE_WORD, kRegProgramStart, 0x12345678, &echo, sizeof echo);
    EXPECT_TRUE(written.ok);
    EXPECT_EQ(written.returned, 0u);
    ASSERT_TRUE(readWord(card_, kRegProgramStart, &value));
    EXPECT_EQ(value, 0x12345678u);

    // Bytes: the low byte of the value is written; a read answers one byte.
    written = registerRequest(card_, TERN_REG_WRITE_BYTE, kRegBrightness, 0xFFFFFFA5, &echo, sizeof echo);
    EXPECT_TRUE(written.ok);
    EXPECT_EQ(written.returned, 0u);
    uint8_t bytes[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    IoResult read = registerRequest(card_, TERN_REG_READ_BYTE, kRegBrightness, 0, bytes, sizeof bytes);
    EXPECT_TRUE(read.ok);
    EXPECT_EQ(read.returned, 1u);
    EXPECT_EQ(bytes[0], 0xA5);
    EXPECT_EQ(bytes[1], 0xEE);
    read = registerRequest(card_, TERN_REG_READ_BYTE, kRegProgramStart + 2, 0, bytes, sizeof bytes);
    EXPECT_TRUE(read.ok);
    EXPECT_EQ(bytes[0], 0x34);
    ASSERT_TRUE(readWord(card_, kRegBrightness, &value));
    EXPECT_EQ(value, 0xA5u);
}

TEST_F(CardRequests, EveryWrongLengthIsRefusedAndTouchesNothing) {
    ASSERT_TRUE(writeWord(card_, kRegProgramStart, 0x0000AB00));
    const RegisterRequest write{TERN_REG_WRITE_WORD, kRegProgramStart, 0x55555554};
    uint8_t big[16] = {};
    for (DWORD length : {0u, 4u, 8u, 11u, 13u, 16u}) {
        SCOPED_TRACE(length);
        std::memcpy(big, &write, sizeof write);
        expectInvalidParameter(control(card_, IOCTL_TERN_REG_ACCESS, length ? big : nullptr, length, big, 16));
    }
    // Reads must have room for their answer.
    uint32_t word = 0xCAFEF00D;
    expectInvalidParameter(registerRequest(card_, TERN_REG_READ_WORD, kRegPixelFormat, 0, nullptr, 0));
    expectInvalidParameter(registerRequest(card_, TERN_REG_READ_WORD, kRegPixelFormat, 0, &word, 3));
    expectInvalidParameter(registerRequest(card_, TERN_REG_READ_BYTE, kRegPixelFormat, 0, nullptr, 0));
    EXPECT_EQ(word, 0xCAFEF00Du);

    SlotInfo slot{};
    uint8_t slotBuffer[16];
    for (DWORD length : {0u, 4u, 11u, 13u, 16u}) {
        SCOPED_TRACE(length);
        expectInvalidParameter(control(card_, IOCTL_TERN_SLOT_INFO, nullptr, 0, length ? slotBuffer : nullptr, length));
    }
    EXPECT_TRUE(control(card_, IOCTL_TERN_SLOT_INFO, nullptr, 0, &slot, sizeof slot).ok);
    for (DWORD length : {0u, 2u, 8u}) {
        SCOPED_TRACE(length);
        expectInvalidParameter(control(card_, IOCTL_TERN_QUERY_WORD, nullptr, 0, length ? slotBuffer : nullptr, length));
    }
    uint32_t value = 0;
    ASSERT_TRUE(readWord(card_, kRegProgramStart, &value));
    EXPECT_EQ(value, 0x0000AB00u);
}

TEST_F(CardRequests, OffsetsOutsideTheRegisterWindowAreRefused) {
    ASSERT_TRUE(writeWord(card_, kRegProgramStart, 0x00001000));
    uint32_t word = 0x11111111;
    RegisterRequest echo{};
    for (uint32_t offset : {kWindowSize, kWindowSize - 3, kWindowSize - 1, 0xFFFFFFFDu, 0xFFFFFFFFu}) {
        SCOPED_TRACE(offset);
        expectInvalidParameter(registerRequest(card_, TERN_REG_READ_WORD, offset, 0, &word, sizeof word));
        expectInvalidParameter(registerRequest(card_, TERN_REG_WRITE_WORD, offset, 0, &echo, sizeof echo));
    }
    for (uint32_t offset : {kWindowSize, 0xFFFFFFFFu}) {
        expectInvalidParameter(registerRequest(card_, TERN_REG_READ_BYTE, offset, 0, &word, sizeof word));
        expectInvalidParameter(registerRequest(card_, TERN_REG_WRITE_BYTE, offset, 0, &echo, sizeof echo));
    }
    EXPECT_EQ(word, 0x11111111u);
    // The last byte and the last word of the window are inside it.
    EXPECT_TRUE(registerRequest(card_, TERN_REG_READ_BYTE, kWindowSize - 1, 0, &word, sizeof word).ok);
    EXPECT_TRUE(registerRequest(card_, TERN_REG_READ_WORD, kWindowSize - 4, 0, &word, sizeof word).ok);
    uint32_t value = 0;
    ASSERT_TRUE(readWord(card_, kRegProgramStart, &value));
    EXPECT_EQ(value, 0x00001000u);
}

TEST_F(CardRequests, AcceptedCodesWithoutDataAndRefusedCodes) {
    // Operation 7 does nothing and succeeds without data.
    uint8_t output[12];
    std::memset(output, 0xCC, sizeof output);
    IoResult result = registerRequest(card_, 7, kRegPixelFormat, 0x99, output, sizeof output);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.status, 0u);
    EXPECT_EQ(result.returned, 0u);
    EXPECT_EQ(output[0], 0xCC);
    uint32_t value = 0;
    ASSERT_TRUE(readWord(card_, kRegPixelFormat, &value));
    EXPECT_EQ(value, 0x44u);

    for (uint32_t code : {IOCTL_TERN_NO_DATA_A, IOCTL_TERN_NO_DATA_B, IOCTL_TERN_NO_DATA_C, IOCTL_TERN_NO_DATA_D}) {
        SCOPED_TRACE(code);
        std::memset(output, 0xCC, sizeof output);
        result = control(card_, code, output, 4, output, sizeof output);
        EXPECT_TRUE(result.ok);
        EXPECT_EQ(result.returned, 0u);
        EXPECT_EQ(output[5], 0xCC);
    }

    uint32_t word = 0xFFFFFFFF;
    result = control(card_, IOCTL_TERN_QUERY_WORD, nullptr, 0, &word, sizeof word);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.returned, 4u);
    EXPECT_EQ(word, 0u);

    for (uint32_t code : {0x80002004u, 0x8000200Cu, 0x80002014u, 0x80002048u, 0x00222010u}) {
        SCOPED_TRACE(code);
        result = control(card_, code, output, 12, output, 12);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.error, static_cast<DWORD>(ERROR_INVALID_FUNCTION));
        EXPECT_EQ(result.status, kStatusInvalidDeviceRequest);
    }

    // Reads and writes are queued like control requests and refused.
    DWORD count = 77;
    EXPECT_FALSE(ReadFile(card_, output, 4, &count, nullptr));
    EXPECT_EQ(static_cast<uint32_t>(LxGetLastNtStatus()), kStatusNotSupported);
    EXPECT_EQ(count, 0u);
    EXPECT_FALSE(WriteFile(card_, output, 4, &count, nullptr));
    EXPECT_EQ(static_cast<uint32_t>(LxGetLastNtStatus()), kStatusNotSupported);
}

TEST_F(CardRequests, SlotInformationTellsWhereEachCardSits) {
    const std::vector<CardLocation> places = machine_->cardLocations();
    ASSERT_EQ(places.size(), 2u);
    HANDLE second = openCard(1);
    ASSERT_NE(second, INVALID_HANDLE_VALUE);
    SlotInfo slots[2];
    std::memset(slots, 0xEE, sizeof slots);
    HANDLE cards[2] = {card_, second};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        IoResult result = control(cards[i], IOCTL_TERN_SLOT_INFO, nullptr, 0, &slots[i], sizeof slots[i]);
        ASSERT_TRUE(result.ok);
        EXPECT_EQ(result.returned, sizeof(SlotInfo));
        EXPECT_EQ(slots[i].busNumber, places[static_cast<size_t>(i)].bus);
        EXPECT_EQ(unsigned{slots[i].deviceNumber}, places[static_cast<size_t>(i)].device);
        EXPECT_EQ(unsigned{slots[i].functionNumber}, places[static_cast<size_t>(i)].function);
        // The bus driver reports the device number as the slot's UI number.
        EXPECT_EQ(slots[i].slotNumber, places[static_cast<size_t>(i)].device);
    }
    EXPECT_NE(slots[0].slotNumber, slots[1].slotNumber);
    CloseHandle(second);
}

}  // namespace
