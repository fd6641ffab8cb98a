// The I/O core on its own: IRPs through a two-device stack with completion
// routines, cancellation, device queues by key, and DPCs.
#include <ntddk.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "test_machine.h"

namespace nttest {
namespace {

struct StackRecord {
    std::atomic<int> upperCalls{0};
    PDEVICE_OBJECT completionDevice = nullptr;
    BOOLEAN pendingSeen = FALSE;
    NTSTATUS statusSeen = 0;
    PIRP parked = nullptr;  // the lower driver keeps the IRP here
    bool takeBack = false;  // the completion routine keeps the IRP
};
StackRecord* g_record = nullptr;

NTSTATUS lowerDispatch(PDEVICE_OBJECT, PIRP irp) {
    IoMarkIrpPending(irp);
    g_record->parked = irp;
    return STATUS_PENDING;
}

NTSTATUS upperCompletion(PDEVICE_OBJECT device, PIRP irp, PVOID) {
    g_record->completionDevice = device;
    g_record->pendingSeen = irp->PendingReturned;
    g_record->statusSeen = irp->IoStatus.Status;
    if (g_record->takeBack) return STATUS_MORE_PROCESSING_REQUIRED;
    if (irp->PendingReturned) IoMarkIrpPending(irp);
    return STATUS_SUCCESS;
}

PDEVICE_OBJECT g_lower = nullptr;

NTSTATUS upperDispatch(PDEVICE_OBJECT, PIRP irp) {
    ++g_record->upperCalls;
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, upperCompletion, nullptr, TRUE, TRUE, TRUE);
    return IoCallDriver(g_lower, irp);
}

VOID cancelParked(PDEVICE_OBJECT device, PIRP irp) {
    g_record->completionDevice = device;  // the device the IRP was at
    IoReleaseCancelSpinLock(irp->CancelIrql);
    g_record->parked = nullptr;
    irp->IoStatus.Status = STATUS_CANCELLED;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
}

class IrpCore : public KernelTest {
protected:
    void SetUp() override {
        KernelTest::SetUp();
        std::memset(&lowerDriver_, 0, sizeof lowerDriver_);
        std::memset(&upperDriver_, 0, sizeof upperDriver_);
        lowerDriver_.MajorFunction[IRP_MJ_DEVICE_CONTROL] = lowerDispatch;
        upperDriver_.MajorFunction[IRP_MJ_DEVICE_CONTROL] = upperDispatch;
        ASSERT_EQ(IoCreateDevice(&lowerDriver_, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &lower_), STATUS_SUCCESS);
        ASSERT_EQ(IoCreateDevice(&upperDriver_, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &upper_), STATUS_SUCCESS);
        EXPECT_EQ(IoAttachDeviceToDeviceStack(upper_, lower_), lower_);
        EXPECT_EQ(upper_->StackSize, 2);
        EXPECT_EQ(IoGetAttachedDeviceReference(lower_), upper_);
        g_lower = lower_;
        g_record = &record_;
    }
    void TearDown() override {
        IoDetachDevice(lower_);
        IoDeleteDevice(upper_);
        IoDeleteDevice(lower_);
        EXPECT_EQ(lowerDriver_.DeviceObject, nullptr);
        g_record = nullptr;
        KernelTest::TearDown();
    }
    PIRP sendToStack(KEVENT* done) {
        PIRP irp = IoAllocateIrp(upper_->StackSize, FALSE);
        irp->UserEvent = done;
        IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_DEVICE_CONTROL;
        EXPECT_EQ(IoCallDriver(upper_, irp), STATUS_PENDING);
        return irp;
    }

    DRIVER_OBJECT lowerDriver_, upperDriver_;
    PDEVICE_OBJECT lower_ = nullptr, upper_ = nullptr;
    StackRecord record_;
};

TEST_F(IrpCore, CompletionWalksBackUpTheStack) {
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    PIRP irp = sendToStack(&done);
    ASSERT_NE(record_.parked, nullptr);
    EXPECT_EQ(IoGetCurrentIrpStackLocation(irp)->DeviceObject, lower_);
    EXPECT_EQ(irp->CurrentLocation, 1);

    // Completed later from another thread, as a DPC would.
    std::thread completer([&] {
        record_.parked->IoStatus.Status = STATUS_SUCCESS;
        record_.parked->IoStatus.Information = 7;
        IoCompleteRequest(record_.parked, IO_NO_INCREMENT);
    });
    completer.join();
    LARGE_INTEGER timeout;
    timeout.QuadPart = -10000000;
    ASSERT_EQ(KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, &timeout), STATUS_SUCCESS);
    EXPECT_EQ(record_.completionDevice, upper_);  // the routine runs with the device of the driver that set it
    EXPECT_TRUE(record_.pendingSeen);
    EXPECT_EQ(irp->IoStatus.Information, 7u);
    EXPECT_EQ(irp->CurrentLocation, 3);  // back above the top of the stack
    IoFreeIrp(irp);
}

TEST_F(IrpCore, MoreProcessingRequiredHandsTheIrpBack) {
    record_.takeBack = true;
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    PIRP irp = sendToStack(&done);
    irp->IoStatus.Status = STATUS_UNSUCCESSFUL;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    EXPECT_EQ(record_.statusSeen, STATUS_UNSUCCESSFUL);  // invoked on error too
    EXPECT_EQ(KeReadStateEvent(&done), 0);               // the sender has not been told
    EXPECT_EQ(IoGetCurrentIrpStackLocation(irp)->DeviceObject, upper_);
    // The upper driver finishes it itself.
    irp->IoStatus.Status = STATUS_SUCCESS;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    EXPECT_EQ(KeReadStateEvent(&done), 1);
    IoFreeIrp(irp);
}

TEST_F(IrpCore, CancelCallsTheRoutineOnceUnderTheCancelLock) {
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    PIRP irp = sendToStack(&done);
    EXPECT_EQ(IoSetCancelRoutine(irp, cancelParked), nullptr);
    EXPECT_TRUE(IoCancelIrp(irp));
    EXPECT_EQ(record_.parked, nullptr);
    EXPECT_EQ(record_.completionDevice, upper_);  // completion routine: the upper device
    EXPECT_EQ(record_.statusSeen, STATUS_CANCELLED);
    EXPECT_TRUE(irp->Cancel);
    EXPECT_EQ(KeReadStateEvent(&done), 1);
    EXPECT_FALSE(IoCancelIrp(irp));  // no routine any more
    IoFreeIrp(irp);
}

TEST_F(IrpCore, DeviceQueuesKeepKeyOrder) {
    KDEVICE_QUEUE queue;
    KeInitializeDeviceQueue(&queue);
    KDEVICE_QUEUE_ENTRY entries[4] = {};
    EXPECT_FALSE(KeInsertByKeyDeviceQueue(&queue, &entries[0], 50));  // idle: the caller starts it
    EXPECT_TRUE(queue.Busy);
    EXPECT_TRUE(KeInsertByKeyDeviceQueue(&queue, &entries[1], 30));
    EXPECT_TRUE(KeInsertByKeyDeviceQueue(&queue, &entries[2], 10));
    EXPECT_TRUE(KeInsertByKeyDeviceQueue(&queue, &entries[3], 30));
    EXPECT_TRUE(KeRemoveEntryDeviceQueue(&queue, &entries[3]));
    EXPECT_FALSE(KeRemoveEntryDeviceQueue(&queue, &entries[3]));
    EXPECT_EQ(KeRemoveDeviceQueue(&queue), &entries[2]);
    EXPECT_EQ(KeRemoveDeviceQueue(&queue), &entries[1]);
    EXPECT_EQ(KeRemoveDeviceQueue(&queue), nullptr);
    EXPECT_FALSE(queue.Busy);
}

struct DpcRecord {
    std::atomic<int> runs{0};
    KIRQL irql = PASSIVE_LEVEL;
    PVOID argument = nullptr;
};

VOID recordDpc(PKDPC, PVOID context, PVOID argument1, PVOID) {
    auto* record = static_cast<DpcRecord*>(context);
    record->irql = KeGetCurrentIrql();
    record->argument = argument1;
    ++record->runs;
}

VOID slowDpc(PKDPC, PVOID context, PVOID, PVOID) {
    auto* gate = static_cast<std::atomic<bool>*>(context);
    while (!gate->load()) std::this_thread::yield();
}

TEST_F(IrpCore, DpcsRunOnceAtDispatchLevel) {
    std::atomic<bool> gate{false};
    KDPC blocker, dpc;
    DpcRecord record;
    KeInitializeDpc(&blocker, slowDpc, &gate);
    KeInitializeDpc(&dpc, recordDpc, &record);
    ASSERT_TRUE(KeInsertQueueDpc(&blocker, nullptr, nullptr));
    int marker = 0;
    EXPECT_TRUE(KeInsertQueueDpc(&dpc, &marker, nullptr));
    EXPECT_FALSE(KeInsertQueueDpc(&dpc, nullptr, nullptr));  // already queued: one run
    gate = true;
    KeFlushQueuedDpcs();
    EXPECT_EQ(record.runs.load(), 1);
    EXPECT_EQ(record.irql, DISPATCH_LEVEL);
    EXPECT_EQ(record.argument, &marker);
    EXPECT_TRUE(KeInsertQueueDpc(&dpc, nullptr, nullptr));  // free to queue again
    KeFlushQueuedDpcs();
    EXPECT_EQ(record.runs.load(), 2);
}

struct IsrRecord {
    TestFunction* function = nullptr;
    std::atomic<int> calls{0};
    std::atomic<int> irql{0};
    std::atomic<bool> claim{true};
};

// The call is counted last, so a test that sees the count also sees the
// acknowledgement that came before it.
BOOLEAN recordIsr(PKINTERRUPT, PVOID context) {
    auto* record = static_cast<IsrRecord*>(context);
    record->irql = KeGetCurrentIrql();
    const bool claim = record->claim.load();
    if (claim) record->function->barWrite(0, kRegIrqStatus, 4, 0xFFFFFFFF);  // acknowledge: the line drops
    ++record->calls;
    return claim ? TRUE : FALSE;
}

BOOLEAN readIrql(PVOID context) {
    *static_cast<KIRQL*>(context) = KeGetCurrentIrql();
    return TRUE;
}

TEST_F(IrpCore, ServiceRoutinesRunAtTheirLevelAndUnclaimedLinesDoNotStorm) {
    auto function = std::make_shared<TestFunction>();
    uint32_t device = 0;
    ASSERT_TRUE(kernel_->plugFunction(function, 1, 0, &device));  // no driver serves it
    IsrRecord record;
    record.function = function.get();
    PKINTERRUPT interrupt = nullptr;
    const ULONG vector = 0x30 + function->interruptLine();
    EXPECT_EQ(IoConnectInterrupt(&interrupt, recordIsr, &record, nullptr, 0x20, 9, 9, LevelSensitive, TRUE, 1, FALSE),
              STATUS_INVALID_PARAMETER);  // not a vector of this machine
    ASSERT_EQ(IoConnectInterrupt(&interrupt, recordIsr, &record, nullptr, vector, 9, 11, LevelSensitive, TRUE, 1, FALSE),
              STATUS_SUCCESS);
    function->barWrite(0, kRegIrqRaise, 4, 1);
    ASSERT_TRUE(eventually([&] { return record.calls.load() == 1; }));
    EXPECT_EQ(record.irql.load(), 11);  // the synchronisation level
    EXPECT_FALSE(function->interruptAsserted());
    KIRQL seen = 0;
    EXPECT_TRUE(KeSynchronizeExecution(interrupt, readIrql, &seen));
    EXPECT_EQ(seen, 11);
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);

    // A line nobody acknowledges is delivered once per raise, not in a loop.
    record.claim = false;
    function->barWrite(0, kRegIrqRaise, 4, 2);
    ASSERT_TRUE(eventually([&] { return record.calls.load() == 2; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(record.calls.load(), 2);
    EXPECT_TRUE(function->interruptAsserted());
    IoDisconnectInterrupt(interrupt);
    function->barWrite(0, kRegIrqRaise, 4, 4);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(record.calls.load(), 2);  // disconnected
}

}  // namespace
}  // namespace nttest
