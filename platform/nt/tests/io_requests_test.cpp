// User-mode requests: names, create and close, buffered control requests,
// pending requests, cancellation on cleanup and the start-I/O queue.
#include <ntddk.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "test_machine.h"

namespace nttest {
namespace {

class IoRequests : public KernelTest {
protected:
    void SetUp() override {
        KernelTest::SetUp();
        device_ = plugTestDevice();
    }
    uint32_t device_ = 0;
};

TEST_F(IoRequests, NamesLinksAndInterfacesReachTheDevice) {
    // The link is found without regard to case, through each spelling of the DOS namespace.
    uint64_t byLink = open("\\\\.\\nttest0");
    uint64_t byDevice = open("\\Device\\NtTest0");
    auto paths = kernel_->interfacePaths(kTestInterfaceGuid);
    ASSERT_EQ(paths.size(), 1u);
    EXPECT_EQ(paths[0].rfind("\\\\?\\PCI#VEN_4C58&DEV_7E57&SUBSYS_00424C58&REV_03#", 0), 0u) << paths[0];
    EXPECT_NE(paths[0].find("#{5b3c1e40-8f2a-4c61-9d7e-1a2b3c4d5e6f}"), std::string::npos) << paths[0];
    uint64_t byInterface = open(paths[0]);
    EXPECT_NE(byLink, byDevice);
    EXPECT_EQ(counts(byLink).opens, 3u);

    uint64_t handle = 0;
    EXPECT_EQ(kernel_->createFile(*process_, "\\\\.\\NoSuchDevice", &handle), STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(handle, 0u);
    EXPECT_TRUE(kernel_->interfacePaths(nt::Guid{1, 2, 3, {}}).empty());

    // A handle belongs to its process.
    FakeProcess other(200, kernel_->memoryRegions());
    EXPECT_EQ(kernel_->closeFile(other, byLink), STATUS_INVALID_HANDLE);
    Counts c{};
    EXPECT_EQ(ioctl(other, byLink, kIoctlCounts, nullptr, 0, &c, sizeof c), STATUS_INVALID_HANDLE);

    EXPECT_EQ(kernel_->closeFile(*process_, byInterface), STATUS_SUCCESS);
    EXPECT_EQ(kernel_->closeFile(*process_, byInterface), STATUS_INVALID_HANDLE);
    EXPECT_EQ(kernel_->closeFile(*process_, byDevice), STATUS_SUCCESS);
    EXPECT_EQ(counts(byLink).opens, 1u);
    EXPECT_NE(kernel_->statusJson().find("\"path\":\"\\\\\\\\.\\\\nttest0\""), std::string::npos);
    EXPECT_EQ(kernel_->closeFile(*process_, byLink), STATUS_SUCCESS);
}

TEST_F(IoRequests, BufferedControlCopiesExactlyTheAnsweredBytes) {
    uint64_t handle = open("\\\\.\\NtTest0");
    const uint8_t input[5] = {0x00, 0x01, 0x5A, 0xA5, 0xFF};
    uint8_t output[16];
    std::memset(output, 0xEE, sizeof output);
    uint32_t information = 99;
    ASSERT_EQ(ioctl(*process_, handle, kIoctlEcho, input, 5, output, 16, &information), STATUS_SUCCESS);
    EXPECT_EQ(information, 5u);
    const uint8_t expected[5] = {0x5A, 0x5B, 0x00, 0xFF, 0xA5};
    EXPECT_EQ(std::memcmp(output, expected, 5), 0);
    for (int i = 5; i < 16; ++i) EXPECT_EQ(output[i], 0xEE) << i;  // beyond Information nothing is copied

    // An error status copies nothing back.
    std::memset(output, 0xEE, sizeof output);
    EXPECT_EQ(ioctl(*process_, handle, kIoctlEcho, input, 5, output, 4, &information), STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(information, 0u);
    EXPECT_EQ(output[0], 0xEE);
    EXPECT_EQ(ioctl(*process_, handle, 0x80002FFC, nullptr, 0, nullptr, 0, &information),
              STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(ioctl(*process_, handle, kIoctlEcho, nullptr, 5, output, 16, &information), STATUS_INVALID_PARAMETER);

    char text[8] = {};
    ASSERT_EQ(kernel_->readFile(*process_, handle, text, 5, &information), STATUS_SUCCESS);
    EXPECT_EQ(information, 5u);
    EXPECT_EQ(std::string(text), "hello");
    ASSERT_EQ(kernel_->writeFile(*process_, handle, "abcdefgh", 8, &information), STATUS_SUCCESS);
    EXPECT_EQ(information, 4u);

    // Register and port access reach the function's handlers.
    uint32_t offset = kRegId, value = 0;
    ASSERT_EQ(ioctl(*process_, handle, kIoctlRegRead, &offset, 4, &value, 4), STATUS_SUCCESS);
    EXPECT_EQ(value, kIdValue);
    const uint32_t write[2] = {kRegScratch, 0x12345678};
    ASSERT_EQ(ioctl(*process_, handle, kIoctlRegWrite, write, 8, nullptr, 0), STATUS_SUCCESS);
    offset = kRegScratch;
    ASSERT_EQ(ioctl(*process_, handle, kIoctlRegRead, &offset, 4, &value, 4), STATUS_SUCCESS);
    EXPECT_EQ(value, 0x12345678u);
    offset = kRegReadCount;
    ioctl(*process_, handle, kIoctlRegRead, &offset, 4, &value, 4);
    ioctl(*process_, handle, kIoctlRegRead, &offset, 4, &value, 4);
    EXPECT_EQ(value, 2u);  // each READ_REGISTER_ULONG is one access
    uint32_t port = 0x1C3;
    ASSERT_EQ(ioctl(*process_, handle, kIoctlPort, &port, 4, &value, 4), STATUS_SUCCESS);
    EXPECT_EQ(value, 0xC3u);
    kernel_->closeFile(*process_, handle);
}

TEST_F(IoRequests, CleanupCancelsAPendingRequestOfAnotherThread) {
    uint64_t handle = open("\\\\.\\NtTest0");
    uint64_t observer = open("\\\\.\\NtTest0");
    auto waiter = startWait(*process_, handle);
    ASSERT_TRUE(eventually([&] { return counts(observer).waiting == 1; }));
    EXPECT_EQ(waiter->status.load(), STATUS_PENDING);
    EXPECT_EQ(kernel_->closeFile(*process_, handle), STATUS_SUCCESS);
    waiter->join();
    EXPECT_EQ(waiter->status.load(), STATUS_CANCELLED);
    EXPECT_EQ(waiter->information.load(), 0u);
    EXPECT_EQ(counts(observer).waiting, 0u);
    EXPECT_TRUE(eventually([&] { return counts(observer).opens == 1; }));  // the close followed
    kernel_->closeFile(*process_, observer);
}

TEST_F(IoRequests, StartIoRunsPacketsInArrivalOrderAndCleanupCancelsTheQueued) {
    uint64_t holder = open("\\\\.\\NtTest0");
    uint64_t sender = open("\\\\.\\NtTest0");
    std::thread hold([&] { EXPECT_EQ(ioctl(*process_, holder, kIoctlHold, nullptr, 0, nullptr, 0), STATUS_SUCCESS); });
    ASSERT_TRUE(eventually([&] { return counts(holder).holding == 1; }));
    // While the first packet is held, the others queue up behind it in order.
    std::vector<std::thread> senders;
    std::vector<uint32_t> positions(4, 99);
    std::vector<nt::NTSTATUS> statuses(4, -1);
    for (uint32_t i = 0; i < 4; ++i) {
        senders.emplace_back([&, i] {
            uint32_t tag = 10 + i, position = 99;
            statuses[i] = ioctl(*process_, sender, kIoctlQueued, &tag, 4, &position, 4);
            positions[i] = position;
        });
        ASSERT_TRUE(eventually([&] { return counts(holder).queued == i + 1; })) << i;
    }
    ASSERT_EQ(ioctl(*process_, holder, kIoctlRelease, nullptr, 0, nullptr, 0), STATUS_SUCCESS);
    for (auto& t : senders) t.join();
    hold.join();
    for (uint32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(statuses[i], STATUS_SUCCESS);
        EXPECT_EQ(positions[i], i);
    }
    uint32_t order[8] = {};
    uint32_t information = 0;
    ASSERT_EQ(ioctl(*process_, holder, kIoctlOrder, nullptr, 0, order, sizeof order, &information), STATUS_SUCCESS);
    EXPECT_EQ(information, 20u);
    EXPECT_EQ(order[0], 4u);
    EXPECT_EQ(order[1], 10u);
    EXPECT_EQ(order[4], 13u);

    // Queued packets of any file are cancelled when one file is cleaned up; the started one is not.
    std::thread hold2([&] { EXPECT_EQ(ioctl(*process_, holder, kIoctlHold, nullptr, 0, nullptr, 0), STATUS_SUCCESS); });
    ASSERT_TRUE(eventually([&] { return counts(holder).holding == 1; }));
    std::atomic<nt::NTSTATUS> queuedStatus{STATUS_PENDING};
    std::thread queued([&] {
        uint32_t tag = 77, position = 0;
        queuedStatus = ioctl(*process_, sender, kIoctlQueued, &tag, 4, &position, 4);
    });
    ASSERT_TRUE(eventually([&] { return counts(holder).queued == 1; }));
    EXPECT_EQ(kernel_->closeFile(*process_, sender), STATUS_SUCCESS);
    queued.join();
    EXPECT_EQ(queuedStatus.load(), STATUS_CANCELLED);
    ASSERT_EQ(ioctl(*process_, holder, kIoctlRelease, nullptr, 0, nullptr, 0), STATUS_SUCCESS);
    hold2.join();
    kernel_->closeFile(*process_, holder);
}

TEST_F(IoRequests, AnExitedProcessLosesItsRequestsAndFiles) {
    FakeProcess doomed(300, kernel_->memoryRegions());
    uint64_t handle = 0;
    ASSERT_EQ(kernel_->createFile(doomed, "\\\\.\\NtTest0", &handle), STATUS_SUCCESS);
    uint64_t observer = open("\\\\.\\NtTest0");
    auto waiter = startWait(doomed, handle);
    ASSERT_TRUE(eventually([&] { return counts(observer).waiting == 1; }));
    kernel_->processExited(doomed);
    waiter->join();
    EXPECT_EQ(waiter->status.load(), STATUS_CANCELLED);
    EXPECT_EQ(counts(observer).opens, 1u);
    EXPECT_EQ(kernel_->closeFile(doomed, handle), STATUS_INVALID_HANDLE);
    kernel_->closeFile(*process_, observer);
}

TEST_F(IoRequests, AnExitedProcessOpensNothingAndReachesNoFile) {
    FakeProcess doomed(303, kernel_->memoryRegions());
    uint64_t handle = 0;
    ASSERT_EQ(kernel_->createFile(doomed, "\\\\.\\NtTest0", &handle), STATUS_SUCCESS);
    uint64_t observer = open("\\\\.\\NtTest0");
    kernel_->processExited(doomed);
    const uint32_t opensBefore = counts(observer).opens;
    uint64_t late = 77;
    EXPECT_EQ(kernel_->createFile(doomed, "\\\\.\\NtTest0", &late), STATUS_PROCESS_IS_TERMINATING);
    EXPECT_EQ(late, 0u);
    EXPECT_EQ(counts(observer).opens, opensBefore) << "the driver never saw the open";
    EXPECT_EQ(ioctl(doomed, handle, kIoctlRelease, nullptr, 0, nullptr, 0), STATUS_PROCESS_IS_TERMINATING);
    EXPECT_EQ(kernel_->closeFile(doomed, handle), STATUS_INVALID_HANDLE);
    kernel_->closeFile(*process_, observer);
}

// What the exit routine saw: the process it was told of, and the caller's id
// while it ran.
std::atomic<uintptr_t> g_exitedId{0};
std::atomic<uintptr_t> g_contextId{0};
std::atomic<int> g_exitCalls{0};

VOID recordExit(HANDLE, HANDLE processId, BOOLEAN create) {
    if (create) return;
    g_exitedId = reinterpret_cast<uintptr_t>(processId);
    g_contextId = reinterpret_cast<uintptr_t>(PsGetCurrentProcessId());
    ++g_exitCalls;
}

TEST_F(IoRequests, ExitRoutinesRunInTheContextOfTheEndedProcess) {
    EXPECT_EQ(PsGetCurrentProcessId(), nullptr) << "no request runs on this thread";
    ASSERT_EQ(PsSetCreateProcessNotifyRoutine(recordExit, FALSE), STATUS_SUCCESS);
    EXPECT_EQ(PsSetCreateProcessNotifyRoutine(recordExit, FALSE), STATUS_INVALID_PARAMETER) << "registered twice";
    EXPECT_EQ(PsSetCreateProcessNotifyRoutine(nullptr, FALSE), STATUS_INVALID_PARAMETER);

    FakeProcess doomed(301, kernel_->memoryRegions());
    uint64_t handle = 0;
    ASSERT_EQ(kernel_->createFile(doomed, "\\\\.\\NtTest0", &handle), STATUS_SUCCESS);
    g_exitCalls = 0;
    kernel_->processExited(doomed);
    EXPECT_EQ(g_exitCalls.load(), 1);
    EXPECT_EQ(g_exitedId.load(), 301u);
    EXPECT_EQ(g_contextId.load(), 301u);
    EXPECT_EQ(kernel_->closeFile(doomed, handle), STATUS_INVALID_HANDLE) << "its files were closed first";

    ASSERT_EQ(PsSetCreateProcessNotifyRoutine(recordExit, TRUE), STATUS_SUCCESS);
    EXPECT_EQ(PsSetCreateProcessNotifyRoutine(recordExit, TRUE), STATUS_INVALID_PARAMETER) << "not registered";
    FakeProcess later(302, kernel_->memoryRegions());
    kernel_->processExited(later);
    EXPECT_EQ(g_exitCalls.load(), 1) << "a removed routine is not called";
}

TEST_F(IoRequests, PowerOffCancelsRequestsStillRunning) {
    uint64_t handle = open("\\\\.\\NtTest0");
    uint64_t observer = open("\\\\.\\NtTest0");
    auto waiter = startWait(*process_, handle);
    ASSERT_TRUE(eventually([&] { return counts(observer).waiting == 1; }));
    kernel_->shutdown();
    waiter->join();
    EXPECT_EQ(waiter->status.load(), STATUS_CANCELLED);
    // A machine that is off answers nothing and keeps no files.
    uint64_t late = 0;
    EXPECT_EQ(kernel_->createFile(*process_, "\\\\.\\NtTest0", &late), STATUS_DEVICE_NOT_READY);
    EXPECT_EQ(kernel_->closeFile(*process_, handle), STATUS_INVALID_HANDLE);
    EXPECT_EQ(kernel_->statusJson(), "{\"running\":false}");
    EXPECT_TRUE(kernel_->memoryRegions().empty());
}

}  // namespace
}  // namespace nttest
