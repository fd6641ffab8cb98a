// Create, close and cleanup of the audio handle; read and write, which the
// function does not support but which are queued and refused in order.
#include "dispatch.h"
#include "outstanding.h"
#include "wait_queue.h"

NTSTATUS AudioCreate(PDEVICE_OBJECT device, PIRP irp) {
    AudioDeviceState* state = audioState(device);
    auto refusesOpens = [state] { return state->NotReady.load() || state->removalQueried.load(); };
    if (refusesOpens()) {
        return completeRequest(irp, STATUS_DEVICE_NOT_CONNECTED);
    }
    state->OpenCount.fetch_add(1);
    // A query-remove raises removalQueried before it looks at the open
    // count; looking again after counting this open means one of the two
    // always sees the other, so no handle survives a granted removal.
    if (refusesOpens()) {
        state->OpenCount.fetch_sub(1);
        return completeRequest(irp, STATUS_DEVICE_NOT_CONNECTED);
    }
    return completeRequest(irp, STATUS_SUCCESS);
}

NTSTATUS AudioClose(PDEVICE_OBJECT device, PIRP irp) {
    audioState(device)->OpenCount.fetch_sub(1);
    return completeRequest(irp, STATUS_SUCCESS);
}

// The device is opened exclusively: everything queued belongs to the handle
// being closed, the pending wait included (no one would wait for it).
NTSTATUS AudioCleanup(PDEVICE_OBJECT device, PIRP irp) {
    AudioDeviceState* state = audioState(device);
    LIST_ENTRY cancelled;
    InitializeListHead(&cancelled);
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    for (;;) {
        // Removing by entry (not KeRemoveDeviceQueue) keeps the queue busy
        // for the request that start-I/O is working on.
        KeAcquireSpinLockAtDpcLevel(&device->DeviceQueue.Lock);
        PLIST_ENTRY head = &device->DeviceQueue.DeviceListHead;
        PKDEVICE_QUEUE_ENTRY entry =
            IsListEmpty(head) ? nullptr : CONTAINING_RECORD(head->Flink, KDEVICE_QUEUE_ENTRY, DeviceListEntry);
        KeReleaseSpinLockFromDpcLevel(&device->DeviceQueue.Lock);
        if (entry == nullptr || !KeRemoveEntryDeviceQueue(&device->DeviceQueue, entry)) {
            break;
        }
        PIRP queued = CONTAINING_RECORD(entry, IRP, Tail.Overlay.DeviceQueueEntry);
        queued->Cancel = TRUE;
        IoSetCancelRoutine(queued, nullptr);
        InsertTailList(&cancelled, &queued->Tail.Overlay.ListEntry);
    }
    IoReleaseCancelSpinLock(irql);
    while (!IsListEmpty(&cancelled)) {
        PIRP queued = CONTAINING_RECORD(RemoveHeadList(&cancelled), IRP, Tail.Overlay.ListEntry);
        giveOutstanding(state);
        completeRequest(queued, STATUS_CANCELLED);
    }
    cancelAllWaits(state, IoGetCurrentIrpStackLocation(irp)->FileObject);
    return completeRequest(irp, STATUS_SUCCESS);
}

NTSTATUS AudioReadWrite(PDEVICE_OBJECT device, PIRP irp) {
    AudioDeviceState* state = audioState(device);
    if (!state->hasRegisters.load()) {
        return completeRequest(irp, STATUS_INSUFFICIENT_RESOURCES);
    }
    if (state->NotReady.load()) {
        return completeRequest(irp, STATUS_DEVICE_NOT_CONNECTED);
    }
    if (!takeOutstanding(state)) {
        return completeRequest(irp, STATUS_DELETE_PENDING);
    }
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const LONGLONG byteOffset = stack->MajorFunction == IRP_MJ_READ ? stack->Parameters.Read.ByteOffset.QuadPart
                                                                    : stack->Parameters.Write.ByteOffset.QuadPart;
    if (byteOffset != 0) {
        giveOutstanding(state);
        return completeRequest(irp, STATUS_INVALID_PARAMETER);
    }
    IoMarkIrpPending(irp);
    IoStartPacket(device, irp, nullptr, AudioCancelQueued);
    return STATUS_PENDING;
}

// Called with the cancel lock held. The request start-I/O is working on is
// left to it: start-I/O sees the cancel flag when it finishes.
VOID AudioCancelQueued(PDEVICE_OBJECT device, PIRP irp) {
    if (irp == device->CurrentIrp) {
        IoReleaseCancelSpinLock(irp->CancelIrql);
        return;
    }
    const BOOLEAN removed = KeRemoveEntryDeviceQueue(&device->DeviceQueue, &irp->Tail.Overlay.DeviceQueueEntry);
    IoReleaseCancelSpinLock(irp->CancelIrql);
    if (removed) {
        giveOutstanding(audioState(device));
        completeRequest(irp, STATUS_CANCELLED);
    }
}

// The function moves no data through reads and writes: each is refused in turn.
VOID AudioStartIo(PDEVICE_OBJECT device, PIRP irp) {
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    IoSetCancelRoutine(irp, nullptr);
    IoReleaseCancelSpinLock(irql);
    const NTSTATUS status = irp->Cancel ? STATUS_CANCELLED : STATUS_NOT_SUPPORTED;
    giveOutstanding(audioState(device));
    completeRequest(irp, status);
    IoStartNextPacket(device, TRUE);
}
