// Plug and play: start with the translated resources, the stop and remove
// queries and their cancellations, stop, surprise removal, removal, and the
// capabilities that tell the card's slot.
#include "admission.h"
#include "dispatch.h"
#include "register_window.h"

namespace {

NTSTATUS signalLowerDone(PDEVICE_OBJECT, PIRP, PVOID context) {
    KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;  // the IRP is finished here
}

// Passes the request down and waits until the lower drivers are done with it.
NTSTATUS forwardAndWait(TernCardVIExtension* extension, PIRP irp) {
    KEVENT lowerDone;
    KeInitializeEvent(&lowerDone, NotificationEvent, FALSE);
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, signalLowerDone, &lowerDone, TRUE, TRUE, TRUE);
    if (IoCallDriver(extension->lowerDevice, irp) == STATUS_PENDING) {
        KeWaitForSingleObject(&lowerDone, Executive, KernelMode, FALSE, nullptr);
    }
    return irp->IoStatus.Status;
}

NTSTATUS passDown(TernCardVIExtension* extension, PIRP irp) {
    IoSkipCurrentIrpStackLocation(irp);
    const NTSTATUS status = IoCallDriver(extension->lowerDevice, irp);
    releaseRequest(extension);
    return status;
}

NTSTATUS finish(TernCardVIExtension* extension, PIRP irp, NTSTATUS status) {
    releaseRequest(extension);
    return completeRequest(irp, status);
}

NTSTATUS startDevice(TernCardVIExtension* extension, PIRP irp) {
    NTSTATUS status = forwardAndWait(extension, irp);
    if (!NT_SUCCESS(status)) {
        return finish(extension, irp, status);
    }
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    status = setUpRegisters(extension, stack->Parameters.StartDevice.AllocatedResourcesTranslated);
    if (NT_SUCCESS(status)) {
        extension->acceptingRequests.store(true);
        IoSetDeviceInterfaceState(&extension->interfaceLinkName, TRUE);
    }
    return finish(extension, irp, status);
}

NTSTATUS queryRemove(TernCardVIExtension* extension, PIRP irp) {
    // Refuse new opens first, then look: see the matching check in create.
    // Only opens: the owner's requests go on, so a refused query leaves
    // the device exactly as it was.
    extension->removalQueried.store(true);
    if (extension->openCount.load() > 0) {
        extension->removalQueried.store(false);
        return finish(extension, irp, STATUS_UNSUCCESSFUL);
    }
    extension->acceptingRequests.store(false);
    extension->removalQueried.store(false);
    irp->IoStatus.Status = STATUS_SUCCESS;
    return passDown(extension, irp);
}

NTSTATUS queryCapabilities(TernCardVIExtension* extension, PIRP irp) {
    const NTSTATUS status = forwardAndWait(extension, irp);
    if (NT_SUCCESS(status)) {
        const PDEVICE_CAPABILITIES capabilities =
            IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceCapabilities.Capabilities;
        extension->deviceNumber.store(static_cast<USHORT>(capabilities->Address >> 16));
        extension->functionNumber.store(static_cast<USHORT>(capabilities->Address & 0xFFFF));
        extension->slotNumber.store(capabilities->UINumber);
    }
    return finish(extension, irp, status);
}

// A card that is gone must not be offered to new openers while handles
// keep its device object alive.
NTSTATUS surpriseRemoval(TernCardVIExtension* extension, PIRP irp) {
    stopDevice(extension);
    IoSetDeviceInterfaceState(&extension->interfaceLinkName, FALSE);
    irp->IoStatus.Status = STATUS_SUCCESS;
    return passDown(extension, irp);
}

NTSTATUS removeDevice(TernCardVIExtension* extension, PIRP irp) {
    stopDevice(extension);
    irp->IoStatus.Status = STATUS_SUCCESS;
    const NTSTATUS status = passDown(extension, irp);
    IoSetDeviceInterfaceState(&extension->interfaceLinkName, FALSE);
    RtlFreeUnicodeString(&extension->interfaceLinkName);
    IoDetachDevice(extension->lowerDevice);
    IoDeleteDevice(extension->deviceObject);
    return status;
}

}  // namespace

NTSTATUS TernPnp(PDEVICE_OBJECT device, PIRP irp) {
    TernCardVIExtension* extension = cardExtension(device);
    if (!acquireRequest(extension)) {
        return completeRequest(irp, STATUS_DELETE_PENDING);
    }
    switch (IoGetCurrentIrpStackLocation(irp)->MinorFunction) {
    case IRP_MN_START_DEVICE: return startDevice(extension, irp);
    case IRP_MN_QUERY_REMOVE_DEVICE: return queryRemove(extension, irp);
    case IRP_MN_REMOVE_DEVICE: return removeDevice(extension, irp);
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
        extension->acceptingRequests.store(true);
        irp->IoStatus.Status = STATUS_SUCCESS;
        return passDown(extension, irp);
    case IRP_MN_STOP_DEVICE:
        stopDevice(extension);
        irp->IoStatus.Status = STATUS_SUCCESS;
        return passDown(extension, irp);
    case IRP_MN_SURPRISE_REMOVAL: return surpriseRemoval(extension, irp);
    case IRP_MN_QUERY_STOP_DEVICE:
        extension->acceptingRequests.store(false);
        irp->IoStatus.Status = STATUS_SUCCESS;
        return passDown(extension, irp);
    case IRP_MN_QUERY_CAPABILITIES: return queryCapabilities(extension, irp);
    default: return passDown(extension, irp);
    }
}
