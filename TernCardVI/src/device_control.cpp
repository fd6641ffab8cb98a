// Device control: the card's codes go through the start-I/O queue, one at
// a time in arrival order; every other code is refused at once.
#include "admission.h"
#include "dispatch.h"
#include "lx/internal/terncard_ioctl.h"

namespace {

bool isCardCode(ULONG code) {
    switch (code) {
    case IOCTL_TERN_NO_DATA_A:
    case IOCTL_TERN_REG_ACCESS:
    case IOCTL_TERN_NO_DATA_B:
    case IOCTL_TERN_NO_DATA_C:
    case IOCTL_TERN_NO_DATA_D:
    case IOCTL_TERN_QUERY_WORD:
    case IOCTL_TERN_SLOT_INFO: return true;
    default: return false;
    }
}

}  // namespace

NTSTATUS TernDeviceControl(PDEVICE_OBJECT device, PIRP irp) {
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
    if (!isCardCode(IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.IoControlCode)) {
        releaseRequest(extension);
        return completeRequest(irp, STATUS_INVALID_DEVICE_REQUEST);
    }
    IoMarkIrpPending(irp);
    IoStartPacket(device, irp, nullptr, TernCancelQueued);
    return STATUS_PENDING;
}

// Called with the cancel lock held. The request start-I/O is working on is
// left to it: start-I/O sees the cancel flag when it finishes.
VOID TernCancelQueued(PDEVICE_OBJECT device, PIRP irp) {
    if (irp == device->CurrentIrp) {
        IoReleaseCancelSpinLock(irp->CancelIrql);
        return;
    }
    const BOOLEAN removed = KeRemoveEntryDeviceQueue(&device->DeviceQueue, &irp->Tail.Overlay.DeviceQueueEntry);
    IoReleaseCancelSpinLock(irp->CancelIrql);
    if (removed) {
        releaseRequest(cardExtension(device));
        completeRequest(irp, STATUS_CANCELLED);
    }
}
