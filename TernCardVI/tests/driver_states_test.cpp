// The driver against a stand-in card in an in-process machine: cleanup and
// cancellation with start-I/O held at a gate register, the stop and remove
// queries, stop and restart, resources, bounds, power and system control.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "lx/internal/terncard_ioctl.h"
#include "probe_machine.h"

using namespace terncardvi_test;

namespace {

class DriverStates : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(machine_.ready()) << machine_.error(); }

    NTSTATUS read(uint64_t handle, uint32_t offset, uint32_t* value) {
        return machine_.regRequest(process_, handle, TERN_REG_READ_WORD, offset, 0, value);
    }
    NTSTATUS write(uint64_t handle, uint32_t offset, uint32_t value) {
        return machine_.regRequest(process_, handle, TERN_REG_WRITE_WORD, offset, value, nullptr);
    }
    // Holds start-I/O: a read of the gate register, on a thread of its own.
    std::thread holdStartIo(uint64_t handle, NTSTATUS* status, uint32_t* value) {
        std::thread reader([=, this] { *status = read(handle, GateFunction::kGateOffset, value); });
        EXPECT_TRUE(eventually([this] { return machine_.card().readerAtGate(); }))
            << "accesses " << machine_.card().accesses();
        return reader;
    }

    ProbeMachine machine_;
    TestProcess process_{4242};
};

TEST_F(DriverStates, CleanupCancelsEveryQueuedRequestAndLeavesNoneCounted) {
    uint64_t handle = 0;
    ASSERT_EQ(machine_.open(process_, &handle), STATUS_SUCCESS);
    ASSERT_EQ(write(handle, 0x10, 0x600DF00D), STATUS_SUCCESS);
    NTSTATUS heldStatus = -1;
    uint32_t heldValue = 0;
    std::thread held = holdStartIo(handle, &heldStatus, &heldValue);

    NTSTATUS queuedStatus[3] = {-1, -1, -1};
    uint32_t queuedValue[3] = {1, 1, 1};
    std::vector<std::thread> queued;
    for (int i = 0; i < 3; ++i) queued.emplace_back([&, i] { queuedStatus[i] = read(handle, 0x10, &queuedValue[i]); });
    ASSERT_TRUE(eventually([&] { return machine_.queuedRequests() == 3; }));
    EXPECT_EQ(machine_.extension()->outstandingRequests.load(), 1 + 4);

    // Closing runs the cleanup at once; the close itself waits for the held request.
    EXPECT_EQ(machine_.kernel().closeFile(process_, handle), STATUS_SUCCESS);
    for (auto& thread : queued) thread.join();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(queuedStatus[i], STATUS_CANCELLED);
        EXPECT_EQ(queuedValue[i], 1u);
    }
    EXPECT_EQ(machine_.queuedRequests(), 0);
    EXPECT_EQ(machine_.extension()->outstandingRequests.load(), 1 + 1);

    machine_.card().openGate();
    held.join();
    EXPECT_EQ(heldStatus, STATUS_SUCCESS);
    EXPECT_EQ(heldValue, GateFunction::kGateValue);
    EXPECT_EQ(machine_.extension()->outstandingRequests.load(), 1);
    EXPECT_TRUE(eventually([&] { return machine_.extension()->openCount.load() == 0; }));
}

// The machine lets only one handle open the exclusive card, so a request of
// another file object is sent to the driver directly: the closing handle's
// cleanup cancels it as well.
TEST_F(DriverStates, CleanupCancelsQueuedRequestsOfOtherFilesToo) {
    uint64_t handle = 0;
    ASSERT_EQ(machine_.open(process_, &handle), STATUS_SUCCESS);
    NTSTATUS heldStatus = -1;
    uint32_t heldValue = 0;
    std::thread held = holdStartIo(handle, &heldStatus, &heldValue);

    FILE_OBJECT otherFile{};
    otherFile.DeviceObject = machine_.fdo();
    NTSTATUS otherStatus = -1;
    uint32_t otherValue = 5;
    std::thread other([&] { otherStatus = machine_.sendRegisterRead(&otherFile, 0x10, &otherValue); });
    NTSTATUS ownStatus = -1;
    uint32_t ownValue = 6;
    std::thread own([&] { ownStatus = read(handle, 0x10, &ownValue); });
    ASSERT_TRUE(eventually([&] { return machine_.queuedRequests() == 2; }));

    EXPECT_EQ(machine_.kernel().closeFile(process_, handle), STATUS_SUCCESS);
    other.join();
    own.join();
    EXPECT_EQ(otherStatus, STATUS_CANCELLED);
    EXPECT_EQ(otherValue, 5u);
    EXPECT_EQ(ownStatus, STATUS_CANCELLED);
    EXPECT_EQ(ownValue, 6u);
    machine_.card().openGate();
    held.join();
    EXPECT_EQ(heldStatus, STATUS_SUCCESS);
    EXPECT_EQ(machine_.extension()->outstandingRequests.load(), 1);
}

TEST_F(DriverStates, ProcessExitCancelsTheQueuedAndTheRunningRequest) {
    uint64_t handle = 0;
    ASSERT_EQ(machine_.open(process_, &handle), STATUS_SUCCESS);
    NTSTATUS heldStatus = -1;
    uint32_t heldValue = 0;
    std::thread held = holdStartIo(handle, &heldStatus, &heldValue);
    NTSTATUS queuedStatus = -1;
    uint32_t queuedValue = 7;
    std::thread queued([&] { queuedStatus = read(handle, 0x10, &queuedValue); });
    ASSERT_TRUE(eventually([&] { return machine_.queuedRequests() == 1; }));

    machine_.kernel().processExited(process_);
    queued.join();
    EXPECT_EQ(queuedStatus, STATUS_CANCELLED);
    EXPECT_EQ(queuedValue, 7u);
    machine_.card().openGate();
    held.join();
    EXPECT_EQ(heldStatus, STATUS_CANCELLED);  // start-I/O saw the cancel when it finished
    EXPECT_EQ(heldValue, 0u);
    EXPECT_EQ(machine_.extension()->outstandingRequests.load(), 1);
}

TEST_F(DriverStates, QueryStopRefusesUntilCancelledAndStopWaitsForTheRunningRequest) {
    uint64_t handle = 0;
    ASSERT_EQ(machine_.open(process_, &handle), STATUS_SUCCESS);
    ASSERT_EQ(write(handle, 0x20, 0xABCD0123), STATUS_SUCCESS);
    EXPECT_EQ(machine_.card().word(0x20), 0xABCD0123u);

    ASSERT_EQ(machine_.sendPnp(IRP_MN_QUERY_STOP_DEVICE), STATUS_SUCCESS);
    uint32_t value = 0;
    EXPECT_EQ(read(handle, 0x20, &value), STATUS_DEVICE_NOT_CONNECTED);
    ASSERT_EQ(machine_.sendPnp(IRP_MN_CANCEL_STOP_DEVICE), STATUS_SUCCESS);
    EXPECT_EQ(read(handle, 0x20, &value), STATUS_SUCCESS);
    EXPECT_EQ(value, 0xABCD0123u);

    // A stop while a request runs: it drains (refusing PnP requests
    // meanwhile) and unmaps the window only after the request has left.
    NTSTATUS heldStatus = -1;
    uint32_t heldValue = 0;
    std::thread held = holdStartIo(handle, &heldStatus, &heldValue);
    ASSERT_EQ(machine_.sendPnp(IRP_MN_QUERY_STOP_DEVICE), STATUS_SUCCESS);
    NTSTATUS stopStatus = -1;
    std::thread stopper([&] { stopStatus = machine_.sendPnp(IRP_MN_STOP_DEVICE); });
    ASSERT_TRUE(eventually([&] { return machine_.extension()->draining.load(); }));
    EXPECT_NE(machine_.extension()->registerWindow.load(), nullptr);
    EXPECT_EQ(machine_.sendPnp(IRP_MN_QUERY_CAPABILITIES), STATUS_DELETE_PENDING);
    machine_.card().openGate();
    held.join();
    stopper.join();
    EXPECT_EQ(heldStatus, STATUS_SUCCESS);
    EXPECT_EQ(heldValue, GateFunction::kGateValue);
    EXPECT_EQ(stopStatus, STATUS_SUCCESS);
    EXPECT_FALSE(machine_.extension()->started.load());
    EXPECT_EQ(machine_.extension()->registerWindow.load(), nullptr);
    EXPECT_EQ(machine_.extension()->outstandingRequests.load(), 1);

    const uint32_t accesses = machine_.card().accesses();
    EXPECT_EQ(read(handle, 0x20, &value), STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(machine_.card().accesses(), accesses);

    // Started again on the same resources: the card's registers are as they were.
    ResourceList resources;
    resources.memory(machine_.registerBase(), 0x1000);
    ASSERT_EQ(machine_.sendPnp(IRP_MN_START_DEVICE, resources.get()), STATUS_SUCCESS);
    value = 0;
    EXPECT_EQ(read(handle, 0x20, &value), STATUS_SUCCESS);
    EXPECT_EQ(value, 0xABCD0123u);

    // A second start changes nothing.
    PUCHAR window = machine_.extension()->registerWindow.load();
    ResourceList other;
    other.port(machine_.portBase(), 32, true);
    EXPECT_EQ(machine_.sendPnp(IRP_MN_START_DEVICE, other.get()), STATUS_SUCCESS);
    EXPECT_EQ(machine_.extension()->registerWindow.load(), window);
    EXPECT_FALSE(machine_.extension()->portSpace.load());
    EXPECT_EQ(machine_.kernel().closeFile(process_, handle), STATUS_SUCCESS);
}

TEST_F(DriverStates, StartTakesTheLastRegisterResourceAndRecordsTheInterrupt) {
    ASSERT_EQ(machine_.sendPnp(IRP_MN_QUERY_STOP_DEVICE), STATUS_SUCCESS);
    ASSERT_EQ(machine_.sendPnp(IRP_MN_STOP_DEVICE), STATUS_SUCCESS);

    EXPECT_EQ(machine_.sendPnp(IRP_MN_START_DEVICE, nullptr), STATUS_DEVICE_CONFIGURATION_ERROR);
    ResourceList empty;
    PCM_RESOURCE_LIST none = empty.get();
    none->Count = 0;
    EXPECT_EQ(machine_.sendPnp(IRP_MN_START_DEVICE, none), STATUS_DEVICE_CONFIGURATION_ERROR);
    // Registers that no device decodes cannot be mapped.
    ResourceList nowhere;
    nowhere.memory(0x80000000, 0x1000);
    EXPECT_EQ(machine_.sendPnp(IRP_MN_START_DEVICE, nowhere.get()), STATUS_NO_MEMORY);
    uint64_t handle = 0;
    EXPECT_EQ(machine_.open(process_, &handle), STATUS_DEVICE_NOT_CONNECTED);

    // A memory-mapped port resource is mapped like memory.
    ResourceList mappedPort;
    mappedPort.port(machine_.registerBase(), 0x1000, false);
    ASSERT_EQ(machine_.sendPnp(IRP_MN_START_DEVICE, mappedPort.get()), STATUS_SUCCESS);
    EXPECT_FALSE(machine_.extension()->portSpace.load());
    ASSERT_EQ(machine_.open(process_, &handle), STATUS_SUCCESS);
    EXPECT_EQ(write(handle, 0x40, 0x0BADCAFE), STATUS_SUCCESS);
    EXPECT_EQ(machine_.card().word(0x40), 0x0BADCAFEu);
    EXPECT_EQ(machine_.kernel().closeFile(process_, handle), STATUS_SUCCESS);
    ASSERT_EQ(machine_.sendPnp(IRP_MN_QUERY_STOP_DEVICE), STATUS_SUCCESS);
    ASSERT_EQ(machine_.sendPnp(IRP_MN_STOP_DEVICE), STATUS_SUCCESS);

    ResourceList ports;
    ports.memory(machine_.registerBase(), 0x1000).interrupt(0x35, 17, CM_RESOURCE_INTERRUPT_LATCHED).port(
        machine_.portBase(), 32, true);
    ASSERT_EQ(machine_.sendPnp(IRP_MN_START_DEVICE, ports.get()), STATUS_SUCCESS);
    TernCardVIExtension* extension = machine_.extension();
    EXPECT_TRUE(extension->portSpace.load());
    EXPECT_EQ(extension->registerLength.load(), 32u);
    EXPECT_TRUE(extension->hasInterrupt);
    EXPECT_EQ(extension->interruptVector, 0x35u);
    EXPECT_EQ(extension->interruptLevel, 17);
    EXPECT_EQ(extension->interruptMode, Latched);
    EXPECT_FALSE(extension->interruptConnected);

    ASSERT_EQ(machine_.open(process_, &handle), STATUS_SUCCESS);
    EXPECT_EQ(machine_.regRequest(process_, handle, TERN_REG_WRITE_BYTE, 5, 0x1C7, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(machine_.card().port(5), 0xC7);
    uint32_t value = 0;
    uint32_t information = 0;
    EXPECT_EQ(machine_.regRequest(process_, handle, TERN_REG_READ_BYTE, 5, 0, &value, &information), STATUS_SUCCESS);
    EXPECT_EQ(value, 0xC7u);
    EXPECT_EQ(information, 1u);
    // The port window is 32 bytes long.
    EXPECT_EQ(machine_.regRequest(process_, handle, TERN_REG_READ_WORD, 29, 0, &value), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(machine_.regRequest(process_, handle, TERN_REG_READ_WORD, 28, 0, &value), STATUS_SUCCESS);
    EXPECT_EQ(machine_.kernel().closeFile(process_, handle), STATUS_SUCCESS);
}

TEST_F(DriverStates, QueryRemoveFollowsTheOpenCount) {
    uint64_t handle = 0;
    ASSERT_EQ(machine_.open(process_, &handle), STATUS_SUCCESS);
    EXPECT_EQ(machine_.sendPnp(IRP_MN_QUERY_REMOVE_DEVICE), STATUS_UNSUCCESSFUL);
    uint32_t value = 0;
    EXPECT_EQ(read(handle, 0x10, &value), STATUS_SUCCESS);  // still taking requests
    EXPECT_EQ(machine_.kernel().closeFile(process_, handle), STATUS_SUCCESS);

    ASSERT_EQ(machine_.sendPnp(IRP_MN_QUERY_REMOVE_DEVICE), STATUS_SUCCESS);
    EXPECT_EQ(machine_.open(process_, &handle), STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(machine_.sendIrp(IRP_MJ_SYSTEM_CONTROL, 0), STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(machine_.sendIrp(IRP_MJ_POWER, IRP_MN_SET_POWER), STATUS_SUCCESS);  // power always goes down
    ASSERT_EQ(machine_.sendPnp(IRP_MN_CANCEL_REMOVE_DEVICE), STATUS_SUCCESS);
    // Passed down now: the bus driver leaves system control as it came.
    EXPECT_EQ(machine_.sendIrp(IRP_MJ_SYSTEM_CONTROL, 0), STATUS_NOT_SUPPORTED);
    ASSERT_EQ(machine_.open(process_, &handle), STATUS_SUCCESS);
    EXPECT_EQ(machine_.extension()->openCount.load(), 1);
    EXPECT_EQ(machine_.kernel().closeFile(process_, handle), STATUS_SUCCESS);
    EXPECT_EQ(machine_.extension()->openCount.load(), 0);
    EXPECT_EQ(machine_.extension()->outstandingRequests.load(), 1);
}

// A refused query-remove must not disturb the owner: its requests go on
// being taken at every moment of the query, not only after it. The flag
// is watched from a second thread while queries are refused one after
// another, and the owner's register traffic runs through them.
TEST_F(DriverStates, RefusedQueryRemoveNeverInterruptsTheOwner) {
    uint64_t handle = 0;
    ASSERT_EQ(machine_.open(process_, &handle), STATUS_SUCCESS);
    std::atomic<bool> querying{true};
    std::atomic<int> flagDropped{0};
    std::atomic<int> refusedReads{0};
    std::thread watcher([&] {
        while (querying.load()) {
            if (!machine_.extension()->acceptingRequests.load()) flagDropped.fetch_add(1);
        }
    });
    std::thread owner([&] {
        while (querying.load()) {
            uint32_t value = 0;
            if (read(handle, 0x10, &value) != STATUS_SUCCESS) refusedReads.fetch_add(1);
        }
    });
    for (int i = 0; i < 20000; ++i) {
        ASSERT_EQ(machine_.sendPnp(IRP_MN_QUERY_REMOVE_DEVICE), STATUS_UNSUCCESSFUL);
    }
    querying.store(false);
    watcher.join();
    owner.join();
    EXPECT_EQ(flagDropped.load(), 0);
    EXPECT_EQ(refusedReads.load(), 0);
    EXPECT_EQ(machine_.kernel().closeFile(process_, handle), STATUS_SUCCESS);
}

// The owner letting go of the card, by closing its handle or by ending,
// and a stop or surprise removal of the card, all leave its DMA engine
// stopped: a program left running would fetch from memory that is freed.
TEST_F(DriverStates, OwnerGoneOrCardStoppedHaltsTheDmaEngine) {
    constexpr uint32_t kCaptureControl = 0x0DC, kDmaControl = 0x10C;
    auto startEngine = [&](uint64_t handle) {
        ASSERT_EQ(write(handle, kCaptureControl, 3), STATUS_SUCCESS);
        ASSERT_EQ(write(handle, kDmaControl, 3), STATUS_SUCCESS);
        ASSERT_EQ(machine_.card().word(kDmaControl), 3u);
    };
    auto halted = [&] { return machine_.card().word(kCaptureControl) == 0 && machine_.card().word(kDmaControl) == 0; };
    uint64_t handle = 0;
    ASSERT_EQ(machine_.open(process_, &handle), STATUS_SUCCESS);
    startEngine(handle);
    EXPECT_EQ(machine_.kernel().closeFile(process_, handle), STATUS_SUCCESS);
    EXPECT_TRUE(halted()) << "closed";

    ASSERT_EQ(machine_.open(process_, &handle), STATUS_SUCCESS);
    startEngine(handle);
    machine_.kernel().processExited(process_);
    EXPECT_TRUE(halted()) << "process ended";

    TestProcess other{4343};
    ASSERT_EQ(machine_.open(other, &handle), STATUS_SUCCESS);
    ASSERT_EQ(machine_.regRequest(other, handle, TERN_REG_WRITE_WORD, kDmaControl, 3, nullptr), STATUS_SUCCESS);
    ASSERT_EQ(machine_.sendPnp(IRP_MN_SURPRISE_REMOVAL), STATUS_SUCCESS);
    EXPECT_TRUE(halted()) << "surprise removal";
    EXPECT_EQ(machine_.kernel().closeFile(other, handle), STATUS_SUCCESS);
}

TEST_F(DriverStates, RefusedRequestsNeverReachTheCard) {
    uint64_t handle = 0;
    ASSERT_EQ(machine_.open(process_, &handle), STATUS_SUCCESS);
    const uint32_t before = machine_.card().accesses();
    uint32_t value = 0;
    uint32_t information = 99;
    const RegisterRequest request{TERN_REG_WRITE_WORD, 0x10, 1};
    EXPECT_EQ(machine_.kernel().deviceIoControl(process_, handle, IOCTL_TERN_REG_ACCESS, &request, 8, nullptr, 0,
                                                &information),
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(information, 0u);
    EXPECT_EQ(machine_.regRequest(process_, handle, TERN_REG_WRITE_WORD, 0xFFE, 1, nullptr), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(machine_.regRequest(process_, handle, TERN_REG_READ_BYTE, 0x1000, 0, &value), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(machine_.regRequest(process_, handle, 7, 0x10, 1, &value, &information), STATUS_SUCCESS);
    EXPECT_EQ(information, 0u);
    EXPECT_EQ(machine_.card().accesses(), before);
    EXPECT_EQ(machine_.regRequest(process_, handle, TERN_REG_WRITE_WORD, 0xFFC, 0x01020304, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(machine_.card().accesses(), before + 1);
    EXPECT_EQ(machine_.card().word(0xFFC), 0x01020304u);

    SlotInfo slot{};
    EXPECT_EQ(machine_.kernel().deviceIoControl(process_, handle, IOCTL_TERN_SLOT_INFO, nullptr, 0, &slot, sizeof slot,
                                                &information),
              STATUS_SUCCESS);
    EXPECT_EQ(information, sizeof slot);
    EXPECT_EQ(uint32_t{slot.deviceNumber}, machine_.cardDevice());
    EXPECT_EQ(uint32_t{slot.functionNumber}, 0u);
    EXPECT_EQ(slot.busNumber, 0u);
    EXPECT_EQ(slot.slotNumber, machine_.cardDevice());
    EXPECT_EQ(machine_.kernel().closeFile(process_, handle), STATUS_SUCCESS);
}

}  // namespace
