// Start-I/O: the card's requests, one at a time, at dispatch level.
#include "admission.h"
#include "dispatch.h"
#include "lx/internal/terncard_ioctl.h"
#include "register_access.h"

namespace {

RequestResult answerSlotInfo(TernCardVIExtension* extension, PVOID buffer, ULONG outputLength) {
    if (outputLength != sizeof(SlotInfo)) {
        return {STATUS_INVALID_PARAMETER, 0};
    }
    ULONG bus = 0;
    ULONG resultLength = 0;
    const NTSTATUS status = IoGetDeviceProperty(extension->physicalDeviceObject, DevicePropertyBusNumber,
                                                sizeof bus, &bus, &resultLength);
    if (!NT_SUCCESS(status)) {
        return {status, 0};
    }
    extension->busNumber.store(bus);
    SlotInfo slot{};
    slot.deviceNumber = extension->deviceNumber.load();
    slot.functionNumber = extension->functionNumber.load();
    slot.busNumber = extension->busNumber.load();
    slot.slotNumber = extension->slotNumber.load();
    RtlCopyMemory(buffer, &slot, sizeof slot);
    return {STATUS_SUCCESS, sizeof slot};
}

RequestResult answerQueryWord(PVOID buffer, ULONG outputLength) {
    if (outputLength != sizeof(ULONG)) {
        return {STATUS_INVALID_PARAMETER, 0};
    }
    const ULONG zero = 0;
    RtlCopyMemory(buffer, &zero, sizeof zero);
    return {STATUS_SUCCESS, sizeof zero};
}

RequestResult carryOut(TernCardVIExtension* extension, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    if (stack->MajorFunction != IRP_MJ_DEVICE_CONTROL) {
        return {STATUS_NOT_SUPPORTED, 0};
    }
    PVOID buffer = irp->AssociatedIrp.SystemBuffer;
    const ULONG inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    const ULONG outputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_TERN_REG_ACCESS: return accessRegister(extension, buffer, inputLength, outputLength);
    case IOCTL_TERN_QUERY_WORD: return answerQueryWord(buffer, outputLength);
    case IOCTL_TERN_SLOT_INFO: return answerSlotInfo(extension, buffer, outputLength);
    default: return {STATUS_SUCCESS, 0};  // the accepted codes without data
    }
}

}  // namespace

VOID TernStartIo(PDEVICE_OBJECT device, PIRP irp) {
    TernCardVIExtension* extension = cardExtension(device);
    RequestResult result = carryOut(extension, irp);

    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    IoSetCancelRoutine(irp, nullptr);
    IoReleaseCancelSpinLock(irql);
    if (irp->Cancel) {
        result = {STATUS_CANCELLED, 0};
    }
    releaseRequest(extension);
    completeRequest(irp, result.status, result.information);
    IoStartNextPacket(device, TRUE);
}
