// Removing a card: a safe removal is refused while a handle is open and
// granted after it is closed; a surprise removal leaves the open handle
// refused; closing a handle cancels what is queued and leaves no request
// counted in the driver. Each test has a machine of its own.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "card_client.h"
#include "card_machine.h"

using namespace terncardvi_test;

namespace {

constexpr uint32_t kRegPixelFormat = 0x0D4;

// Polls the machine's report (bounded) until it lists `count` cards.
bool waitForCards(CardMachine& machine, size_t count) {
    for (int i = 0; i < 250; ++i) {
        if (machine.cardLocations().size() == count) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

TEST(CardRemoval, QueryRemoveIsRefusedWhileOpenAndGrantedAfterClose) {
    CardMachine machine;
    ASSERT_TRUE(machine.booted());
    const std::vector<std::string> before = cardInterfacePaths();
    ASSERT_EQ(before.size(), 2u);
    HANDLE card = openCard(1);
    ASSERT_NE(card, INVALID_HANDLE_VALUE);

    EXPECT_EQ(machine.unplug(2, false), 1);
    // Refused and cancelled: the card goes on working on the open handle.
    uint32_t value = 0;
    EXPECT_TRUE(readWord(card, kRegPixelFormat, &value));
    EXPECT_EQ(value, 0x44u);
    EXPECT_EQ(cardInterfacePaths().size(), 2u);

    EXPECT_TRUE(CloseHandle(card));
    EXPECT_EQ(machine.unplug(2, false), 0);
    const std::vector<std::string> after = cardInterfacePaths();
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0], before[0]);
    EXPECT_EQ(openPath(before[1]), INVALID_HANDLE_VALUE);
    EXPECT_EQ(machine.cardLocations().size(), 1u);
}

TEST(CardRemoval, SurpriseRemovalRefusesTheOpenHandleAndHidesTheCard) {
    CardMachine machine;
    ASSERT_TRUE(machine.booted());
    const std::vector<std::string> before = cardInterfacePaths();
    ASSERT_EQ(before.size(), 2u);
    HANDLE card = openCard(0);
    ASSERT_NE(card, INVALID_HANDLE_VALUE);

    EXPECT_EQ(machine.unplug(1, true), 0);
    uint32_t value = 0x12345678;
    IoResult result = registerRequest(card, TERN_REG_READ_WORD, kRegPixelFormat, 0, &value, sizeof value);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.status, kStatusDeviceNotConnected);
    EXPECT_EQ(result.error, static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
    EXPECT_EQ(value, 0x12345678u);
    SlotInfo slot{};
    EXPECT_EQ(control(card, IOCTL_TERN_SLOT_INFO, nullptr, 0, &slot, sizeof slot).status, kStatusDeviceNotConnected);

    // Only the remaining card is offered, and it still works.
    const std::vector<std::string> present = cardInterfacePaths();
    ASSERT_EQ(present.size(), 1u);
    EXPECT_EQ(present[0], before[1]);
    HANDLE other = openPath(present[0]);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(readWord(other, kRegPixelFormat, &value));
    EXPECT_EQ(value, 0x44u);
    CloseHandle(other);

    EXPECT_TRUE(CloseHandle(card));
    EXPECT_TRUE(waitForCards(machine, 1));
}

// Closing a handle while other threads send on it: every request either
// completes or is cancelled, nothing stays counted in the driver, and the
// card is removed afterwards without a stop waiting for a request.
TEST(CardRemoval, CloseDuringTrafficCancelsQueuedRequestsAndLeavesNoneCounted) {
    CardMachine machine;
    ASSERT_TRUE(machine.booted());
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        HANDLE card = openCard(0);
        ASSERT_NE(card, INVALID_HANDLE_VALUE);
        std::atomic<int> unexpected{0};
        std::atomic<int> completed{0};
        std::atomic<int> finished{0};
        std::vector<std::thread> senders;
        for (int t = 0; t < 4; ++t) {
            senders.emplace_back([&] {
                for (int i = 0; i < 400; ++i) {
                    uint32_t value = 0;
                    IoResult result = registerRequest(card, TERN_REG_READ_WORD, kRegPixelFormat, 0, &value, 4);
                    if (result.ok && value == 0x44u) {
                        completed.fetch_add(1);
                    } else if (result.ok || (result.status != kStatusCancelled &&
                                             result.error != static_cast<DWORD>(ERROR_INVALID_HANDLE))) {
                        unexpected.fetch_add(1);
                    }
                }
                finished.fetch_add(1);
            });
        }
        while (completed.load() < 50 && finished.load() < 4) std::this_thread::yield();
        EXPECT_TRUE(CloseHandle(card));
        for (auto& sender : senders) sender.join();
        EXPECT_EQ(unexpected.load(), 0);
    }
    HANDLE card = openCard(0);
    ASSERT_NE(card, INVALID_HANDLE_VALUE);
    CloseHandle(card);
    EXPECT_EQ(machine.unplug(1, false), 0);
    EXPECT_EQ(machine.log().find("requests still running after a stop"), std::string::npos);
}

}  // namespace
