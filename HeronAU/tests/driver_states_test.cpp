// The driver's states against the audio model in an in-process machine:
// reads and writes by byte offset, the stop query and its cancellation,
// stop and restart with waits outstanding, starts with and without
// registers, the interrupt mode and routine, power and system control.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "interrupt.h"
#include "lx/internal/heron_audio_ioctl.h"
#include "probe_machine.h"

using namespace heronau_test;

namespace {

constexpr NTSTATUS kPending = STATUS_PENDING;

class DriverStates : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(machine_.ready()) << machine_.error(); }

    AudioDeviceState* state() { return machine_.state(); }
    NTSTATUS readWord(uint64_t handle, uint32_t offset, uint32_t* value) {
        const AudioRegisterRequest request{AUDIO_REG_READ_ULONG, offset, 0};
        AudioRegisterRequest answer{};
        const NTSTATUS status =
            machine_.control(handle, IOCTL_AUDIO_REGISTER_IO, &request, sizeof request, &answer, sizeof answer);
        *value = answer.Value;
        return status;
    }
    // A wait request on a thread of its own; its status lands in `status`.
    std::thread startWait(uint64_t handle, std::atomic<NTSTATUS>* status) {
        return std::thread([this, handle, status] {
            status->store(machine_.control(handle, IOCTL_AUDIO_WAIT_EVENT, nullptr, 0, nullptr, 0));
        });
    }
    bool waitsHeld(int count) {
        return eventually([&] { return state()->OutstandingCount.load() == 1 + count; });
    }

    ProbeMachine machine_;
};

TEST_F(DriverStates, ReadsAndWritesAreRefusedByByteOffsetThenInTurn) {
    EXPECT_EQ(machine_.sendTransfer(IRP_MJ_READ, 8), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(machine_.sendTransfer(IRP_MJ_WRITE, 8), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(machine_.sendTransfer(IRP_MJ_READ, 0), STATUS_NOT_SUPPORTED);
    EXPECT_EQ(machine_.sendTransfer(IRP_MJ_WRITE, 0), STATUS_NOT_SUPPORTED);
    EXPECT_EQ(state()->OutstandingCount.load(), 1);
}

// A wait another thread sends just as the handle closes reaches the driver
// after the cleanup: nothing would ever cancel it, so it is refused.
TEST_F(DriverStates, AWaitArrivingAfterItsFilesCleanupIsCancelled) {
    FILE_OBJECT closing{};
    FILE_OBJECT other{};
    EXPECT_EQ(machine_.sendFileRequest(&closing, IRP_MJ_CLEANUP), STATUS_SUCCESS);
    EXPECT_EQ(machine_.sendFileRequest(&closing, IRP_MJ_DEVICE_CONTROL, IOCTL_AUDIO_WAIT_EVENT), STATUS_CANCELLED);
    EXPECT_EQ(state()->OutstandingCount.load(), 1);
    // Another file's wait is held as usual, and cancelled by its own cleanup.
    std::atomic<NTSTATUS> held{kPending};
    std::thread wait([&] {
        held.store(machine_.sendFileRequest(&other, IRP_MJ_DEVICE_CONTROL, IOCTL_AUDIO_WAIT_EVENT));
    });
    ASSERT_TRUE(waitsHeld(1));
    EXPECT_EQ(held.load(), kPending);
    EXPECT_EQ(machine_.sendFileRequest(&other, IRP_MJ_CLEANUP), STATUS_SUCCESS);
    wait.join();
    EXPECT_EQ(held.load(), STATUS_CANCELLED);
    EXPECT_EQ(state()->OutstandingCount.load(), 1);
}

TEST_F(DriverStates, QueryStopRefusesUntilCancelled) {
    uint64_t handle = 0;
    ASSERT_EQ(machine_.open(&handle), STATUS_SUCCESS);
    ASSERT_EQ(machine_.sendPnp(IRP_MN_QUERY_STOP_DEVICE), STATUS_SUCCESS);
    EXPECT_TRUE(state()->StopPending.load());
    uint32_t value = 0;
    EXPECT_EQ(readWord(handle, AUDIO_CONTROL_REGISTER, &value), STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(machine_.control(handle, IOCTL_AUDIO_WAIT_EVENT, nullptr, 0, nullptr, 0), STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(machine_.sendIrp(IRP_MJ_SYSTEM_CONTROL), STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(machine_.sendTransfer(IRP_MJ_READ, 0), STATUS_DEVICE_NOT_CONNECTED);

    ASSERT_EQ(machine_.sendPnp(IRP_MN_CANCEL_STOP_DEVICE), STATUS_SUCCESS);
    EXPECT_FALSE(state()->StopPending.load());
    EXPECT_FALSE(state()->NotReady.load());
    EXPECT_EQ(readWord(handle, AUDIO_CONTROL_REGISTER, &value), STATUS_SUCCESS);
    EXPECT_NE(machine_.sendIrp(IRP_MJ_SYSTEM_CONTROL), STATUS_DEVICE_NOT_CONNECTED);  // the bus driver's answer
    EXPECT_EQ(machine_.sendIrp(IRP_MJ_POWER), STATUS_SUCCESS);
    EXPECT_EQ(state()->OutstandingCount.load(), 1);
    EXPECT_EQ(machine_.kernel().closeFile(machine_.process(), handle), STATUS_SUCCESS);
}

// A rebalance stops the device under an open handle with waits outstanding:
// they are cancelled, the drain finds nothing left, and after the restart
// the handle works and the interrupt is connected again.
TEST_F(DriverStates, StopCancelsTheWaitsAndRestartReconnects) {
    uint64_t handle = 0;
    ASSERT_EQ(machine_.open(&handle), STATUS_SUCCESS);
    std::atomic<NTSTATUS> first{kPending}, second{kPending};
    std::thread a = startWait(handle, &first);
    ASSERT_TRUE(waitsHeld(1));
    std::thread b = startWait(handle, &second);
    ASSERT_TRUE(waitsHeld(2));

    ASSERT_TRUE(machine_.kernel().stopFunction(0, machine_.slot(), 0));
    a.join();
    b.join();
    EXPECT_EQ(first.load(), STATUS_CANCELLED);
    EXPECT_EQ(second.load(), STATUS_CANCELLED);
    EXPECT_FALSE(state()->HardwareStarted.load());
    EXPECT_EQ(state()->interruptObject, nullptr);
    EXPECT_EQ(state()->registerBase.load(), nullptr);
    EXPECT_EQ(state()->OutstandingCount.load(), 1);
    uint32_t value = 0;
    EXPECT_EQ(readWord(handle, AUDIO_STATUS_REGISTER, &value), STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(machine_.kernel().closeFile(machine_.process(), handle), STATUS_SUCCESS);
    EXPECT_EQ(machine_.open(&handle), STATUS_DEVICE_NOT_CONNECTED);

    ASSERT_TRUE(machine_.kernel().startFunction(0, machine_.slot(), 0));
    EXPECT_TRUE(state()->HardwareStarted.load());
    ASSERT_EQ(machine_.open(&handle), STATUS_SUCCESS);
    std::atomic<NTSTATUS> third{kPending};
    std::thread c = startWait(handle, &third);
    ASSERT_TRUE(waitsHeld(1));
    const AudioConfig config{0, 0, 0, 0, 3, 0, 0, 0};
    ASSERT_EQ(machine_.control(handle, IOCTL_AUDIO_SET_CONFIG, &config, sizeof config, nullptr, 0), STATUS_SUCCESS);
    machine_.audio().raiseCauses(AUDIO_BLOCK_INTERRUPT);
    c.join();
    EXPECT_EQ(third.load(), STATUS_SUCCESS);
    EXPECT_EQ(state()->InterruptCount.load(), 4u);
    EXPECT_EQ(state()->OutstandingCount.load(), 1);
    EXPECT_EQ(machine_.kernel().closeFile(machine_.process(), handle), STATUS_SUCCESS);
}

TEST_F(DriverStates, StartTakesTheLastRegisterResourceAndTheInterruptMode) {
    ASSERT_EQ(machine_.sendPnp(IRP_MN_STOP_DEVICE), STATUS_SUCCESS);
    EXPECT_EQ(machine_.sendPnp(IRP_MN_START_DEVICE, nullptr), STATUS_DEVICE_CONFIGURATION_ERROR);
    ResourceList empty;
    PCM_RESOURCE_LIST none = empty.get();
    none->Count = 0;
    EXPECT_EQ(machine_.sendPnp(IRP_MN_START_DEVICE, none), STATUS_DEVICE_CONFIGURATION_ERROR);
    EXPECT_TRUE(state()->NotReady.load());
    // A memory range no device decodes cannot be mapped.
    ResourceList unmapped;
    EXPECT_EQ(machine_.sendPnp(IRP_MN_START_DEVICE, unmapped.memory(0xFE000000, 0x1000).get()), STATUS_NO_MEMORY);
    EXPECT_TRUE(state()->NotReady.load());

    // A port range first, the real window after it: the later one counts.
    ResourceList resources;
    resources.port(0xC000, 0x20).memory(machine_.windowBase(), 0x1000).interrupt(machine_.vector(), 5, 1);
    ASSERT_EQ(machine_.sendPnp(IRP_MN_START_DEVICE, resources.get()), STATUS_SUCCESS);
    EXPECT_TRUE(state()->mapped.load());
    EXPECT_FALSE(state()->portIo.load());
    EXPECT_EQ(state()->resourceLength.load(), 0x1000u);
    EXPECT_EQ(state()->interruptMode, Latched);
    EXPECT_EQ(state()->interruptLevel, 5);
    EXPECT_NE(state()->interruptObject, nullptr);
    EXPECT_FALSE(state()->NotReady.load());

    // The routine leaves a status without causes to other devices on the line.
    EXPECT_EQ(AudioInterrupt(state()->interruptObject, state()), FALSE);
    EXPECT_EQ(state()->InterruptCount.load(), 0u);

    ASSERT_EQ(machine_.sendPnp(IRP_MN_STOP_DEVICE), STATUS_SUCCESS);
    ResourceList level;
    level.memory(machine_.windowBase(), 0x1000).interrupt(machine_.vector(), 5, 0);
    ASSERT_EQ(machine_.sendPnp(IRP_MN_START_DEVICE, level.get()), STATUS_SUCCESS);
    EXPECT_EQ(state()->interruptMode, LevelSensitive);
}

TEST_F(DriverStates, WithoutRegistersEveryRequestIsRefused) {
    ASSERT_EQ(machine_.sendPnp(IRP_MN_STOP_DEVICE), STATUS_SUCCESS);
    ResourceList interruptOnly;
    ASSERT_EQ(machine_.sendPnp(IRP_MN_START_DEVICE, interruptOnly.interrupt(machine_.vector(), 5, 0).get()),
              STATUS_SUCCESS);
    EXPECT_EQ(state()->interruptObject, nullptr);  // no routine that would read no registers
    uint64_t handle = 0;
    ASSERT_EQ(machine_.open(&handle), STATUS_SUCCESS);
    uint32_t count = 0;
    EXPECT_EQ(machine_.control(handle, IOCTL_AUDIO_GET_INTERRUPT_COUNT, nullptr, 0, &count, sizeof count),
              STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(machine_.sendTransfer(IRP_MJ_READ, 0), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(machine_.kernel().closeFile(machine_.process(), handle), STATUS_SUCCESS);

    // A window too short for the status register gets no interrupt routine.
    ASSERT_EQ(machine_.sendPnp(IRP_MN_STOP_DEVICE), STATUS_SUCCESS);
    ResourceList shortWindow;
    shortWindow.memory(machine_.windowBase(), 0x100).interrupt(machine_.vector(), 5, 0);
    ASSERT_EQ(machine_.sendPnp(IRP_MN_START_DEVICE, shortWindow.get()), STATUS_SUCCESS);
    EXPECT_EQ(state()->interruptObject, nullptr);
    EXPECT_FALSE(state()->hasInterrupt);
}

}  // namespace
