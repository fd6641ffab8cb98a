// HMBServ against a client that speaks the machine protocol itself: it can
// refuse a mapping the driver asks for, and report views it was never given.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "lx/hmb_control_codes.h"
#include "lx/static_mem_records.h"
#include "machine_suite.h"
#include "raw_client.h"

namespace {

using lxm::testing::RawClient;
using lxm::wire::Op;

constexpr int32_t kInsufficientResources = static_cast<int32_t>(0xC000009A);
constexpr int32_t kInvalidParameter = static_cast<int32_t>(0xC000000D);
constexpr uint32_t kWin32InvalidParameter = 87;
// Addresses the raw client claims to have mapped; nothing is ever there.
constexpr uint64_t kClaimedView = 0x7E0000000000;
constexpr uint64_t kForgedView = 0x7F0000000000;

class HmbServRawClient : public hmbtest::MachineSuite {
protected:
    void SetUp() override {
        const char* directory = std::getenv("LX_MACHINE");
        ASSERT_NE(directory, nullptr);
        std::string error;
        ASSERT_TRUE(client_.attach(directory, &error)) << error;
        auto thread = client_.addThread(directory, &error);
        ASSERT_TRUE(thread) << error;
        thread_ = *thread;
        auto opened = client_.call(thread_, Op::CreateFile, RawClient::createFile("\\\\.\\HMBSERV"));
        ASSERT_TRUE(opened);
        ASSERT_EQ(opened->record.status, 0);
        file_ = opened->record.value;
    }

    std::optional<lxm::testing::RawReply> control(uint32_t code, const void* input, uint32_t inputLength,
                                                  uint32_t outputLength, uint64_t mapAnswer = kClaimedView) {
        std::span<const uint8_t> in(static_cast<const uint8_t*>(input), inputLength);
        return client_.callAnsweringMaps(thread_, Op::DeviceIoControl,
                                         RawClient::deviceIoControl(file_, code, in, outputLength), mapAnswer);
    }
    std::optional<lxm::testing::RawReply> lock(uint32_t offset, uint32_t length, uint64_t mapAnswer) {
        StaticMemBlock block{};
        block.Offset = offset;
        block.Length = length;
        return control(IOCTL_HMB_STATIC_LOCK, &block, sizeof block, sizeof block, mapAnswer);
    }
    uint32_t translate(uint64_t address) {
        auto reply = control(IOCTL_HMB_PHYSICAL_ADDRESS, &address, sizeof address, 4);
        uint32_t physical = 0xDEADBEEF;
        if (reply && reply->record.status == 0 && reply->data.size() == 4) std::memcpy(&physical, reply->data.data(), 4);
        return physical;
    }
    uint32_t staticBase() {
        auto reply = control(IOCTL_HMB_STATIC_BASE, nullptr, 0, 4);
        uint32_t base = 0;
        if (reply && reply->data.size() == 4) std::memcpy(&base, reply->data.data(), 4);
        return base;
    }

    RawClient client_;
    size_t thread_ = 0;
    uint64_t file_ = 0;
};

// Address ranges mapped in the daemon, from its /proc maps.
std::vector<std::pair<uint64_t, uint64_t>> daemonMappings(const std::string& statusJson) {
    std::vector<std::pair<uint64_t, uint64_t>> out;
    const std::string key = "\"machine\":{";
    size_t at = statusJson.find(key);
    if (at == std::string::npos) return out;
    at = statusJson.find("\"pid\":", at);
    if (at == std::string::npos) return out;
    const long pid = std::strtol(statusJson.c_str() + at + 6, nullptr, 10);
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    std::string line;
    while (std::getline(maps, line)) {
        uint64_t begin = 0, end = 0;
        char dash = 0;
        std::istringstream fields(line);
        fields >> std::hex >> begin >> dash >> end;
        if (dash == '-') out.emplace_back(begin, end);
    }
    return out;
}

TEST_F(HmbServRawClient, AWindowThatCannotBeMappedIsAFailure) {
    auto refused = lock(0, 8192, 0);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->record.status, kInsufficientResources);
    EXPECT_TRUE(refused->data.empty()) << "a failure copies no record back";

    // The same window mapped: its handle is no address of the machine.
    auto locked = lock(0, 8192, kClaimedView);
    ASSERT_TRUE(locked);
    ASSERT_EQ(locked->record.status, 0);
    ASSERT_EQ(locked->data.size(), sizeof(StaticMemBlock));
    StaticMemBlock block{};
    std::memcpy(&block, locked->data.data(), sizeof block);
    EXPECT_EQ(block.UserAddress, kClaimedView);
    ASSERT_NE(block.MappingHandle, 0u);
    EXPECT_NE(block.MappingHandle, block.KernelAddress);
    auto mappings = daemonMappings(machine_->statusJson());
    ASSERT_FALSE(mappings.empty());
    for (const auto& [begin, end] : mappings)
        EXPECT_FALSE(block.MappingHandle >= begin && block.MappingHandle < end)
            << std::hex << block.MappingHandle << " lies in the daemon at " << begin << "-" << end;

    // Only the refused attempt left nothing behind: one unlock succeeds, a second finds nothing.
    auto unlocked = control(IOCTL_HMB_STATIC_UNLOCK, &block, sizeof block, 0);
    ASSERT_TRUE(unlocked);
    EXPECT_EQ(unlocked->record.status, 0);
    unlocked = control(IOCTL_HMB_STATIC_UNLOCK, &block, sizeof block, 0);
    ASSERT_TRUE(unlocked);
    EXPECT_EQ(unlocked->record.status, kInvalidParameter);
}

TEST_F(HmbServRawClient, OnlyViewsTheMachineMappedAreTranslated) {
    const uint32_t base = staticBase();
    ASSERT_NE(base, 0u);
    // A view of the static memory the process reports itself is refused.
    auto forged = client_.call(thread_, Op::AddView, RawClient::addView(kForgedView, 4096, base));
    ASSERT_TRUE(forged);
    EXPECT_EQ(forged->record.status, static_cast<int32_t>(kWin32InvalidParameter));
    EXPECT_EQ(translate(kForgedView + 16), 0u);

    // A window the driver mapped is translated.
    auto locked = lock(4096, 4096, kClaimedView + 0x100000);
    ASSERT_TRUE(locked);
    ASSERT_EQ(locked->record.status, 0);
    EXPECT_EQ(translate(kClaimedView + 0x100000 + 100), base + 4096 + 100);
}

// A machine whose processes may hold 4 MiB of contiguous memory each.
class ContiguousQuota : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        machine_ = new hmbtest::StackMachine(std::string(hmbtest::kFastMachine) +
                                             "[limits]\ncontiguous_mb_per_process = 4\n");
        ASSERT_TRUE(machine_->booted());
    }
    static void TearDownTestSuite() {
        delete machine_;
        machine_ = nullptr;
    }
    static inline hmbtest::StackMachine* machine_ = nullptr;
};

// A client with the service open; allocates and frees dynamic blocks.
class BlockClient {
public:
    bool open() {
        const char* directory = std::getenv("LX_MACHINE");
        std::string error;
        if (!directory || !client_.attach(directory, &error) || !client_.addThread(directory, &error)) return false;
        auto opened = client_.call(0, Op::CreateFile, RawClient::createFile("\\\\.\\HMBSERV"));
        if (!opened || opened->record.status != 0) return false;
        file_ = opened->record.value;
        return true;
    }
    // The block the driver answered; all zero when it had no memory.
    DynamicMemBlock allocate(uint32_t size) {
        std::span<const uint8_t> in(reinterpret_cast<const uint8_t*>(&size), sizeof size);
        nextView_ += 0x1000000;
        auto reply = client_.callAnsweringMaps(
            0, Op::DeviceIoControl, RawClient::deviceIoControl(file_, IOCTL_HMB_DYNAMIC_ALLOC, in, sizeof(DynamicMemBlock)),
            nextView_);
        DynamicMemBlock out{};
        if (reply && reply->data.size() == sizeof out) std::memcpy(&out, reply->data.data(), sizeof out);
        return out;
    }
    bool free(const DynamicMemBlock& block) {
        std::span<const uint8_t> in(reinterpret_cast<const uint8_t*>(&block), sizeof block);
        auto reply = client_.callAnsweringMaps(
            0, Op::DeviceIoControl, RawClient::deviceIoControl(file_, IOCTL_HMB_DYNAMIC_FREE, in, 0), 0);
        return reply && reply->record.status == 0;
    }

private:
    RawClient client_;
    uint64_t file_ = 0;
    uint64_t nextView_ = kClaimedView;
};

TEST_F(ContiguousQuota, OneProcessCannotTakeEveryContiguousPage) {
    constexpr uint32_t kMiB = 1 << 20;
    BlockClient greedy;
    ASSERT_TRUE(greedy.open());
    std::vector<DynamicMemBlock> blocks;
    for (int i = 0; i < 4; ++i) {
        blocks.push_back(greedy.allocate(kMiB));
        ASSERT_EQ(blocks.back().Size, kMiB) << i;
        ASSERT_NE(blocks.back().UserAddress, 0u);
    }
    DynamicMemBlock over = greedy.allocate(4096);
    EXPECT_TRUE(hmbtest::allZero(&over, sizeof over)) << "past the quota the driver gets no memory";

    // Another process still gets memory.
    BlockClient other;
    ASSERT_TRUE(other.open());
    DynamicMemBlock theirs = other.allocate(2 * kMiB);
    EXPECT_EQ(theirs.Size, 2 * kMiB);
    EXPECT_TRUE(other.free(theirs));

    // What is freed may be taken again, and no more.
    ASSERT_TRUE(greedy.free(blocks.back()));
    blocks.pop_back();
    DynamicMemBlock again = greedy.allocate(kMiB);
    EXPECT_EQ(again.Size, kMiB);
    EXPECT_TRUE(hmbtest::allZero(&(over = greedy.allocate(4096)), sizeof over));
    blocks.push_back(again);
    for (const auto& block : blocks) EXPECT_TRUE(greedy.free(block));
}

}  // namespace
