// Plug and play: start with the translated resources, the stop and remove
// queries and their cancellations, stop, surprise removal and removal.
#include "dispatch.h"
#include "hardware.h"
#include "outstanding.h"

namespace {

NTSTATUS signalLowerDone(PDEVICE_OBJECT, PIRP, PVOID context) {
    KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;  // the request is finished here
}

// Passes the request down and waits until the lower drivers are done with it.
NTSTATUS forwardAndWait(AudioDeviceState* state, PIRP irp) {
    KEVENT lowerDone;
    KeInitializeEvent(&lowerDone, NotificationEvent, FALSE);
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, signalLowerDone, &lowerDone, TRUE, TRUE, TRUE);
    if (IoCallDriver(state->lowerDevice, irp) == STATUS_PENDING) {
        KeWaitForSingleObject(&lowerDone, Executive, KernelMode, FALSE, nullptr);
    }
    return irp->IoStatus.Status;
}

NTSTATUS passDown(AudioDeviceState* state, PIRP irp) {
    irp->IoStatus.Status = STATUS_SUCCESS;
    IoSkipCurrentIrpStackLocation(irp);
    const NTSTATUS status = IoCallDriver(state->lowerDevice, irp);
    giveOutstanding(state);
    return status;
}

NTSTATUS finish(AudioDeviceState* state, PIRP irp, NTSTATUS status) {
    giveOutstanding(state);
    return completeRequest(irp, status);
}

void becomeReady(AudioDeviceState* state) {
    state->StopPending.store(false);
    state->NotReady.store(false);
}

void refuseRequests(AudioDeviceState* state) {
    state->StopPending.store(true);
    state->NotReady.store(true);
}

NTSTATUS startDevice(AudioDeviceState* state, PIRP irp) {
    NTSTATUS status = forwardAndWait(state, irp);
    if (!NT_SUCCESS(status)) {
        return finish(state, irp, status);
    }
    status = startHardware(state, IoGetCurrentIrpStackLocation(irp)->Parameters.StartDevice.AllocatedResourcesTranslated);
    if (NT_SUCCESS(status)) {
        becomeReady(state);
        IoSetDeviceInterfaceState(&state->interfaceName, TRUE);
    }
    return finish(state, irp, status);
}

NTSTATUS queryRemove(AudioDeviceState* state, PIRP irp) {
    // Refuse new opens first, then look: see the matching check in create.
    // Only opens: a refused query leaves the open handle working.
    state->removalQueried.store(true);
    if (state->OpenCount.load() > 0) {
        state->removalQueried.store(false);
        return finish(state, irp, STATUS_UNSUCCESSFUL);
    }
    refuseRequests(state);
    state->removalQueried.store(false);
    return passDown(state, irp);
}

// A function that is gone is not offered to new openers while the open
// handle keeps its device object.
NTSTATUS surpriseRemoval(AudioDeviceState* state, PIRP irp) {
    stopDevice(state);
    IoSetDeviceInterfaceState(&state->interfaceName, FALSE);
    return passDown(state, irp);
}

NTSTATUS removeDevice(AudioDeviceState* state, PIRP irp) {
    stopDevice(state);
    irp->IoStatus.Status = STATUS_SUCCESS;
    IoSkipCurrentIrpStackLocation(irp);
    const NTSTATUS status = IoCallDriver(state->lowerDevice, irp);
    IoSetDeviceInterfaceState(&state->interfaceName, FALSE);
    RtlFreeUnicodeString(&state->interfaceName);
    IoDeleteSymbolicLink(&state->linkName);
    IoDetachDevice(state->lowerDevice);
    IoDeleteDevice(state->DeviceObject);
    return status;
}

}  // namespace

NTSTATUS AudioPnp(PDEVICE_OBJECT device, PIRP irp) {
    AudioDeviceState* state = audioState(device);
    if (!takeOutstanding(state)) {
        return completeRequest(irp, STATUS_DELETE_PENDING);
    }
    switch (IoGetCurrentIrpStackLocation(irp)->MinorFunction) {
    case IRP_MN_START_DEVICE: return startDevice(state, irp);
    case IRP_MN_QUERY_REMOVE_DEVICE: return queryRemove(state, irp);
    case IRP_MN_REMOVE_DEVICE: return removeDevice(state, irp);
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
        becomeReady(state);
        return passDown(state, irp);
    case IRP_MN_STOP_DEVICE:
        stopDevice(state);
        return passDown(state, irp);
    case IRP_MN_SURPRISE_REMOVAL: return surpriseRemoval(state, irp);
    case IRP_MN_QUERY_STOP_DEVICE:
        refuseRequests(state);
        return passDown(state, irp);
    default:
        IoSkipCurrentIrpStackLocation(irp);
        {
            const NTSTATUS status = IoCallDriver(state->lowerDevice, irp);
            giveOutstanding(state);
            return status;
        }
    }
}
