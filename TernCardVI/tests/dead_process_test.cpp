// The exclusive card and a process that ends with opens of it still queued:
// none of them may reach the card after the process's clean-up.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include <windows.h>

#include "card_machine.h"
#include "lx/internal/terncard_ioctl.h"
#include "raw_client.h"

namespace {

using lxm::testing::RawClient;
using lxm::wire::Op;

constexpr int32_t kAccessDenied = static_cast<int32_t>(0xC0000022);

// The first card's interface path, asked of the machine directly.
std::string firstCardPath(RawClient& client) {
    const GUID guid = TERNCARD_INTERFACE_GUID_INIT;
    lxm::wire::GuidRecord record{guid.Data1, guid.Data2, guid.Data3, {}};
    std::memcpy(record.data4, guid.Data4, sizeof record.data4);
    lxm::wire::PayloadWriter w;
    w.record(record);
    auto reply = client.call(0, Op::InterfacePaths, w.data());
    if (!reply || reply->record.value == 0) return "";
    return std::string(reinterpret_cast<const char*>(reply->data.data()));
}

// Opens the card, retrying (bounded) while an earlier holder's exit is
// still being processed; the last status.
int32_t openWithin(RawClient& client, const std::string& path) {
    int32_t status = kAccessDenied;
    for (int attempt = 0; attempt < 250 && status == kAccessDenied; ++attempt) {
        auto opened = client.call(0, Op::CreateFile, RawClient::createFile(path));
        if (!opened) return -1;
        status = opened->record.status;
        if (status == kAccessDenied) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return status;
}

TEST(DeadProcess, OpensQueuedAtExitLeaveTheCardFree) {
    terncardvi_test::CardMachine card;
    ASSERT_TRUE(card.booted()) << card.log();
    const std::string directory = card.machine().directory();
    std::string error;
    for (int round = 0; round < 20; ++round) {
        RawClient doomed;
        ASSERT_TRUE(doomed.attach(directory, &error)) << error;
        for (int t = 0; t < 8; ++t) ASSERT_TRUE(doomed.addThread(directory, &error)) << error;
        const std::string path = firstCardPath(doomed);
        ASSERT_FALSE(path.empty());
        ASSERT_EQ(openWithin(doomed, path), 0) << "round " << round;
        // Refused while it holds the card; after its clean-up nothing may serve them.
        for (int i = 0; i < 100; ++i)
            for (size_t t = 0; t < 8; ++t) ASSERT_TRUE(doomed.send(t, Op::CreateFile, RawClient::createFile(path)));
        doomed.exit();

        // The next process gets the card as soon as the machine has let the dead one go.
        RawClient next;
        ASSERT_TRUE(next.attach(directory, &error)) << error;
        ASSERT_TRUE(next.addThread(directory, &error)) << error;
        EXPECT_EQ(openWithin(next, path), 0) << "round " << round;
        next.exit();
    }
}

}  // namespace
