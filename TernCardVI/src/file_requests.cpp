// Create, close and cleanup of a card handle, and read and write, which the
// card does not support but which are queued and refused in order.
#include "admission.h"
#include "dispatch.h"
#include "register_access.h"

NTSTATUS TernCreate(PDEVICE_OBJECT device, PIRP irp) {
    TernCardVIExtension* extension = cardExtension(device);
    auto refusesOpens = [extension] {
        return !extension->acceptingRequests.load() || extension->removalQueried.load();
    };
    if (refusesOpens()) {
        return completeRequest(irp, STATUS_DEVICE_NOT_CONNECTED);
    }
    if (!acquireRequest(extension)) {
        return completeRequest(irp, STATUS_DELETE_PENDING);
    }
    extension->openCount.fetch_add(1);
    // A query-remove raises removalQueried before it looks at the open
    // count; looking again after counting this open means that one of the
    // two always sees the other, so no handle survives a granted removal.
    NTSTATUS status = STATUS_SUCCESS;
    if (refusesOpens()) {
        extension->openCount.fetch_sub(1);
        status = STATUS_DEVICE_NOT_CONNECTED;
    }
    releaseRequest(extension);
    return completeRequest(irp, status);
}

NTSTATUS TernClose(PDEVICE_OBJECT device, PIRP irp) {
    TernCardVIExtension* extension = cardExtension(device);
    if (extension->interruptConnected) {
        IoDisconnectInterrupt(extension->interruptObject);
        extension->interruptConnected = false;
        extension->interruptObject = nullptr;
    }
    extension->openCount.fetch_sub(1);
    return completeRequest(irp, STATUS_SUCCESS);
}

// Every queued request that start-I/O has not taken yet is cancelled, of
// whatever handle: the card's queue is one queue.
NTSTATUS TernCleanup(PDEVICE_OBJECT device, PIRP irp) {
    TernCardVIExtension* extension = cardExtension(device);
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
        IoSetCancelRoutine(queued, nullptr);
        InsertTailList(&cancelled, &queued->Tail.Overlay.ListEntry);
    }
    IoReleaseCancelSpinLock(irql);
    while (!IsListEmpty(&cancelled)) {
        PIRP queued = CONTAINING_RECORD(RemoveHeadList(&cancelled), IRP, Tail.Overlay.ListEntry);
        // Each one was admitted when it was queued; a stop waits for it.
        releaseRequest(extension);
        completeRequest(queued, STATUS_CANCELLED);
    }
    // The card is opened exclusively, so this is its owner letting go (by
    // closing, or by ending): a DMA program it left running would go on
    // fetching from its freed memory. Admitted like a request, so that a
    // stop cannot take the window away meanwhile (a stop halts it itself).
    if (acquireRequest(extension)) {
        haltCardDma(extension);
        releaseRequest(extension);
    }
    return completeRequest(irp, STATUS_SUCCESS);
}

NTSTATUS TernReadWrite(PDEVICE_OBJECT device, PIRP irp) {
    TernCardVIExtension* extension = cardExtension(device);
    if (!extension->hasRegisters.load()) {
        return completeRequest(irp, STATUS_INSUFFICIENT_RESOURCES);
    }
    if (!extension->acceptingRequests.load()) {
        return completeRequest(irp, STATUS_DEVICE_NOT_CONNECTED);
    }
    if (!acquireRequest(extension)) {
        return completeRequest(irp, STATUS_DELETE_PENDING);
    }
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const LONGLONG byteOffset = stack->MajorFunction == IRP_MJ_READ ? stack->Parameters.Read.ByteOffset.QuadPart
                                                                    : stack->Parameters.Write.ByteOffset.QuadPart;
    if (byteOffset != 0) {
        releaseRequest(extension);
        return completeRequest(irp, STATUS_INVALID_PARAMETER);
    }
    IoMarkIrpPending(irp);
    IoStartPacket(device, irp, nullptr, TernCancelQueued);
    return STATUS_PENDING;
}
