// Wait requests from a client process: completion at successive multiples
// of 4 of the block-interrupt count, the count that IOCTL_AUDIO_SET_CONFIG
// replaces, the block clock, and cancellation when the handle is closed.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "audio_client.h"
#include "audio_machine.h"

using namespace heronau_test;

namespace {

int finishedCount(const std::vector<std::unique_ptr<WaitInFlight>>& waits) {
    int finished = 0;
    for (const auto& wait : waits) finished += wait->done() ? 1 : 0;
    return finished;
}

// Raises `blocks` block interrupts one at a time, each acknowledged before the next.
bool raiseBlocks(HANDLE audio, int blocks) {
    for (int i = 0; i < blocks; ++i) {
        if (!raiseAndSettle(audio, AUDIO_BLOCK_INTERRUPT)) return false;
    }
    return true;
}

class AudioWaits : public ::testing::TestWithParam<int> {};

TEST_P(AudioWaits, ThreeWaitsCompleteAtThreeSuccessiveMultiplesOfFour) {
    AudioMachine machine;
    ASSERT_TRUE(machine.booted());
    HANDLE audio = openPath(linkPath(GetParam()));
    ASSERT_NE(audio, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(setInterruptCount(audio, 1));

    std::vector<std::unique_ptr<WaitInFlight>> waits;
    for (int i = 0; i < 3; ++i) waits.push_back(std::make_unique<WaitInFlight>(audio));
    Sleep(200);  // all three reach the driver
    EXPECT_EQ(finishedCount(waits), 0);

    // Count 1 -> 4: the first multiple of 4 completes exactly one wait.
    ASSERT_TRUE(raiseBlocks(audio, 2));
    Sleep(50);
    EXPECT_EQ(finishedCount(waits), 0);
    ASSERT_TRUE(raiseBlocks(audio, 1));
    EXPECT_TRUE(eventually([&] { return finishedCount(waits) == 1; }));
    // 5 to 7 complete nothing, 8 the second, 12 the third.
    ASSERT_TRUE(raiseBlocks(audio, 3));
    Sleep(50);
    EXPECT_EQ(finishedCount(waits), 1);
    ASSERT_TRUE(raiseBlocks(audio, 1));
    EXPECT_TRUE(eventually([&] { return finishedCount(waits) == 2; }));
    ASSERT_TRUE(raiseBlocks(audio, 4));
    EXPECT_TRUE(eventually([&] { return finishedCount(waits) == 3; }));
    for (auto& wait : waits) {
        ASSERT_TRUE(wait->finish());
        EXPECT_TRUE(wait->ok());
        EXPECT_EQ(wait->status(), 0u);
    }
    uint32_t count = 0;
    EXPECT_TRUE(interruptCount(audio, &count));
    EXPECT_EQ(count, 12u);

    // Causes other than bit 11 are acknowledged and count nothing.
    ASSERT_TRUE(raiseAndSettle(audio, 0x1000));
    ASSERT_TRUE(raiseAndSettle(audio, 0xFF000));
    EXPECT_TRUE(interruptCount(audio, &count));
    EXPECT_EQ(count, 12u);

    // With the count set to 2, a wait completes at the second block after.
    ASSERT_TRUE(setInterruptCount(audio, 2));
    WaitInFlight wait(audio);
    Sleep(100);
    ASSERT_TRUE(raiseBlocks(audio, 1));
    Sleep(50);
    EXPECT_FALSE(wait.done());
    ASSERT_TRUE(raiseBlocks(audio, 1));
    ASSERT_TRUE(wait.finish());
    EXPECT_EQ(wait.status(), 0u);
    EXPECT_TRUE(CloseHandle(audio));
}

// 0: the function in memory space; 1: the one in I/O port space.
INSTANTIATE_TEST_SUITE_P(BothWindows, AudioWaits, ::testing::Values(0, 1));

TEST(AudioWaitsCancel, CloseHandleCancelsThePendingAndTheQueuedWaits) {
    AudioMachine machine;
    ASSERT_TRUE(machine.booted());
    HANDLE audio = openPath(linkPath(0));
    ASSERT_NE(audio, INVALID_HANDLE_VALUE);
    WaitInFlight pending(audio);
    WaitInFlight queued(audio);
    Sleep(200);
    EXPECT_FALSE(pending.done());
    EXPECT_FALSE(queued.done());
    EXPECT_TRUE(CloseHandle(audio));
    ASSERT_TRUE(pending.finish());
    ASSERT_TRUE(queued.finish());
    EXPECT_EQ(pending.status(), kStatusCancelled);
    EXPECT_EQ(queued.status(), kStatusCancelled);

    // Nothing is left counted in the driver: the removal's drain finds it idle.
    EXPECT_EQ(machine.unplug(1, false), 0);
    EXPECT_EQ(machine.log().find("requests still running after a stop"), std::string::npos);
}

TEST(AudioWaitsCancel, TheBlockClockCompletesWaitsWhileEnabled) {
    AudioMachine machine;
    ASSERT_TRUE(machine.booted());
    HANDLE audio = openPath(linkPath(0));
    ASSERT_NE(audio, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(setInterruptCount(audio, 0));
    ASSERT_TRUE(control(audio, IOCTL_AUDIO_CONTROL_SET, nullptr, 0, nullptr, 0).ok);
    uint32_t value = 0;
    EXPECT_TRUE(readUlong(audio, AUDIO_CONTROL_REGISTER, &value));
    EXPECT_EQ(value, AUDIO_BLOCK_INTERRUPT);
    for (uint32_t round = 1; round <= 3; ++round) {
        const IoResult waited = control(audio, IOCTL_AUDIO_WAIT_EVENT, nullptr, 0, nullptr, 0);
        EXPECT_TRUE(waited.ok);
        uint32_t count = 0;
        EXPECT_TRUE(interruptCount(audio, &count));
        EXPECT_GE(count, 4 * round);
    }
    ASSERT_TRUE(control(audio, IOCTL_AUDIO_CONTROL_CLEAR, nullptr, 0, nullptr, 0).ok);
    EXPECT_TRUE(readUlong(audio, AUDIO_CONTROL_REGISTER, &value));
    EXPECT_EQ(value, 0u);
    uint32_t before = 0, after = 0;
    Sleep(30);  // a block raised just before the clear is counted by now
    EXPECT_TRUE(interruptCount(audio, &before));
    Sleep(100);
    EXPECT_TRUE(interruptCount(audio, &after));
    EXPECT_EQ(before, after);

    // The machine reports the blocks and interrupts it raised.
    const std::string json = machine.machine().statusJson();
    EXPECT_NE(json.find("\"kind\":\"heron_audio\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"audio\":{\"portSpace\":false,\"rate\":400,\"blocks\":"), std::string::npos) << json;
    EXPECT_NE(json.find("\"audio\":{\"portSpace\":true,\"rate\":400,\"blocks\":0,\"interrupts\":0}"),
              std::string::npos)
        << json;
    EXPECT_TRUE(CloseHandle(audio));
}

}  // namespace
