// Device queues and the start-I/O path.
#include "bug_check.h"
#include "irql.h"
#include "log.h"

using namespace nt;

extern "C" {

VOID KeInitializeDeviceQueue(PKDEVICE_QUEUE DeviceQueue) {
    DeviceQueue->Type = 20;
    DeviceQueue->Size = sizeof(KDEVICE_QUEUE);
    InitializeListHead(&DeviceQueue->DeviceListHead);
    KeInitializeSpinLock(&DeviceQueue->Lock);
    DeviceQueue->Busy = FALSE;
}

// FALSE (and Busy set) when the device was idle: the caller starts the entry itself.
BOOLEAN KeInsertDeviceQueue(PKDEVICE_QUEUE DeviceQueue, PKDEVICE_QUEUE_ENTRY DeviceQueueEntry) {
    acquireSpinLock(&DeviceQueue->Lock);
    BOOLEAN inserted = FALSE;
    if (DeviceQueue->Busy) {
        InsertTailList(&DeviceQueue->DeviceListHead, &DeviceQueueEntry->DeviceListEntry);
        inserted = TRUE;
    } else {
        DeviceQueue->Busy = TRUE;
    }
    DeviceQueueEntry->Inserted = inserted;
    releaseSpinLock(&DeviceQueue->Lock);
    return inserted;
}

BOOLEAN KeInsertByKeyDeviceQueue(PKDEVICE_QUEUE DeviceQueue, PKDEVICE_QUEUE_ENTRY DeviceQueueEntry, ULONG SortKey) {
    acquireSpinLock(&DeviceQueue->Lock);
    DeviceQueueEntry->SortKey = SortKey;
    BOOLEAN inserted = FALSE;
    if (DeviceQueue->Busy) {
        PLIST_ENTRY position = DeviceQueue->DeviceListHead.Flink;
        while (position != &DeviceQueue->DeviceListHead &&
               CONTAINING_RECORD(position, KDEVICE_QUEUE_ENTRY, DeviceListEntry)->SortKey <= SortKey)
            position = position->Flink;
        InsertTailList(position, &DeviceQueueEntry->DeviceListEntry);  // before `position`
        inserted = TRUE;
    } else {
        DeviceQueue->Busy = TRUE;
    }
    DeviceQueueEntry->Inserted = inserted;
    releaseSpinLock(&DeviceQueue->Lock);
    return inserted;
}

// The next entry, or null (and Busy cleared) when the queue is empty.
PKDEVICE_QUEUE_ENTRY KeRemoveDeviceQueue(PKDEVICE_QUEUE DeviceQueue) {
    acquireSpinLock(&DeviceQueue->Lock);
    PKDEVICE_QUEUE_ENTRY entry = nullptr;
    if (IsListEmpty(&DeviceQueue->DeviceListHead)) {
        DeviceQueue->Busy = FALSE;
    } else {
        entry = CONTAINING_RECORD(RemoveHeadList(&DeviceQueue->DeviceListHead), KDEVICE_QUEUE_ENTRY, DeviceListEntry);
        entry->Inserted = FALSE;
    }
    releaseSpinLock(&DeviceQueue->Lock);
    return entry;
}

BOOLEAN KeRemoveEntryDeviceQueue(PKDEVICE_QUEUE DeviceQueue, PKDEVICE_QUEUE_ENTRY DeviceQueueEntry) {
    acquireSpinLock(&DeviceQueue->Lock);
    BOOLEAN removed = DeviceQueueEntry->Inserted;
    if (removed) {
        RemoveEntryList(&DeviceQueueEntry->DeviceListEntry);
        DeviceQueueEntry->Inserted = FALSE;
    }
    releaseSpinLock(&DeviceQueue->Lock);
    return removed;
}

VOID IoStartPacket(PDEVICE_OBJECT DeviceObject, PIRP Irp, PULONG Key, PDRIVER_CANCEL CancelFunction) {
    KIRQL oldIrql = KeRaiseIrqlToDpcLevel();
    KIRQL cancelIrql;
    IoAcquireCancelSpinLock(&cancelIrql);
    if (CancelFunction) IoSetCancelRoutine(Irp, CancelFunction);
    BOOLEAN queued = Key ? KeInsertByKeyDeviceQueue(&DeviceObject->DeviceQueue,
                                                    &Irp->Tail.Overlay.DeviceQueueEntry, *Key)
                         : KeInsertDeviceQueue(&DeviceObject->DeviceQueue, &Irp->Tail.Overlay.DeviceQueueEntry);
    if (!queued) {
        DeviceObject->CurrentIrp = Irp;
        IoReleaseCancelSpinLock(cancelIrql);
        DriverCallScope call(DeviceObject->DriverObject, "DriverStartIo");
        DeviceObject->DriverObject->DriverStartIo(DeviceObject, Irp);
    } else if (Irp->Cancel) {
        // Cancelled while it was being queued: the cancel routine takes it out.
        PDRIVER_CANCEL routine = IoSetCancelRoutine(Irp, nullptr);
        if (routine) {
            Irp->CancelIrql = cancelIrql;
            routine(DeviceObject, Irp);  // releases the cancel lock
        } else {
            IoReleaseCancelSpinLock(cancelIrql);
        }
    } else {
        IoReleaseCancelSpinLock(cancelIrql);
    }
    KeLowerIrql(oldIrql);
}

static VOID startNext(PDEVICE_OBJECT DeviceObject, BOOLEAN Cancelable, const ULONG* key) {
    KIRQL cancelIrql = 0;
    if (Cancelable) IoAcquireCancelSpinLock(&cancelIrql);
    DeviceObject->CurrentIrp = nullptr;
    PKDEVICE_QUEUE_ENTRY entry = nullptr;
    if (key) {
        // The first entry at or above the key, else the head.
        acquireSpinLock(&DeviceObject->DeviceQueue.Lock);
        PLIST_ENTRY head = &DeviceObject->DeviceQueue.DeviceListHead;
        for (PLIST_ENTRY p = head->Flink; p != head; p = p->Flink) {
            auto* e = CONTAINING_RECORD(p, KDEVICE_QUEUE_ENTRY, DeviceListEntry);
            if (e->SortKey >= *key) {
                entry = e;
                break;
            }
        }
        releaseSpinLock(&DeviceObject->DeviceQueue.Lock);
        if (entry && !KeRemoveEntryDeviceQueue(&DeviceObject->DeviceQueue, entry)) entry = nullptr;
        if (!entry) entry = KeRemoveDeviceQueue(&DeviceObject->DeviceQueue);
    } else {
        entry = KeRemoveDeviceQueue(&DeviceObject->DeviceQueue);
    }
    if (!entry) {
        if (Cancelable) IoReleaseCancelSpinLock(cancelIrql);
        return;
    }
    PIRP irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.DeviceQueueEntry);
    DeviceObject->CurrentIrp = irp;
    if (Cancelable) IoReleaseCancelSpinLock(cancelIrql);
    IrqlScope dispatch(DISPATCH_LEVEL);
    DriverCallScope call(DeviceObject->DriverObject, "DriverStartIo");
    DeviceObject->DriverObject->DriverStartIo(DeviceObject, irp);
}

VOID IoStartNextPacket(PDEVICE_OBJECT DeviceObject, BOOLEAN Cancelable) { startNext(DeviceObject, Cancelable, nullptr); }

VOID IoStartNextPacketByKey(PDEVICE_OBJECT DeviceObject, BOOLEAN Cancelable, ULONG Key) {
    startNext(DeviceObject, Cancelable, &Key);
}

}  // extern "C"
