// IRP allocation, dispatch, completion and cancellation.
#include "irp.h"

#include <cstdlib>
#include <cstring>

#include "bug_check.h"
#include "irql.h"
#include "log.h"

namespace nt {
namespace {

KSPIN_LOCK g_cancelLock = 0;

PIO_STACK_LOCATION stackBase(PIRP irp) { return reinterpret_cast<PIO_STACK_LOCATION>(irp + 1); }

}  // namespace

NTSTATUS invalidDeviceRequest(PDEVICE_OBJECT, PIRP irp) {
    irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
    irp->IoStatus.Information = 0;
    IofCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_INVALID_DEVICE_REQUEST;
}

IO_STATUS_BLOCK sendAndWait(PDEVICE_OBJECT target, const std::function<void(PIRP, PIO_STACK_LOCATION)>& prepare,
                            const std::function<void(PIRP)>& inFlight) {
    IO_STATUS_BLOCK result{};
    PIRP irp = IoAllocateIrp(target->StackSize, FALSE);
    if (!irp) {
        result.Status = STATUS_INSUFFICIENT_RESOURCES;
        return result;
    }
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    irp->UserEvent = &done;
    irp->UserIosb = &result;
    irp->Flags |= kIrpSenderOwned;
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
    prepare(irp, stack);
    if (inFlight) inFlight(irp);
    IofCallDriver(target, irp);
    KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
    if (inFlight) inFlight(nullptr);
    IoFreeIrp(irp);
    return result;
}

}  // namespace nt

using namespace nt;

extern "C" {

PIRP IoAllocateIrp(CCHAR StackSize, BOOLEAN) {
    if (StackSize < 1) return nullptr;
    const size_t size = sizeof(IRP) + static_cast<size_t>(StackSize) * sizeof(IO_STACK_LOCATION);
    auto* irp = static_cast<PIRP>(std::calloc(1, size));
    if (!irp) return nullptr;
    irp->Type = 6;
    irp->Size = static_cast<USHORT>(size);
    irp->StackCount = StackSize;
    irp->CurrentLocation = static_cast<CHAR>(StackSize + 1);
    irp->Tail.Overlay.CurrentStackLocation = stackBase(irp) + StackSize;
    InitializeListHead(&irp->ThreadListEntry);
    return irp;
}

VOID IoFreeIrp(PIRP Irp) { std::free(Irp); }

NTSTATUS IofCallDriver(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
    IoSetNextIrpStackLocation(Irp);
    if (Irp->CurrentLocation <= 0) {
        klog("IoCallDriver: no stack location left for device %p", static_cast<void*>(DeviceObject));
        IoSkipCurrentIrpStackLocation(Irp);
        Irp->IoStatus.Status = STATUS_INTERNAL_ERROR;
        Irp->IoStatus.Information = 0;
        IofCompleteRequest(Irp, IO_NO_INCREMENT);
        return STATUS_INTERNAL_ERROR;
    }
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
    stack->DeviceObject = DeviceObject;
    PDRIVER_DISPATCH dispatch = DeviceObject->DriverObject->MajorFunction[stack->MajorFunction];
    if (!dispatch) dispatch = invalidDeviceRequest;
    DriverCallScope call(DeviceObject->DriverObject, majorFunctionName(stack->MajorFunction));
    return dispatch(DeviceObject, Irp);
}

// Walks the stack back up: each location's completion routine runs (as its
// control flags ask) with the device of the driver that set it; a routine
// returning STATUS_MORE_PROCESSING_REQUIRED takes the IRP back.
VOID IofCompleteRequest(PIRP Irp, CCHAR) {
    if (Irp->CurrentLocation > Irp->StackCount + 1) {
        klog("IoCompleteRequest: IRP %p completed twice", static_cast<void*>(Irp));
        return;
    }
    if (Irp->IoStatus.Status == STATUS_PENDING) {
        klog("IoCompleteRequest: IRP %p completed with STATUS_PENDING", static_cast<void*>(Irp));
        Irp->IoStatus.Status = STATUS_INTERNAL_ERROR;
    }
    while (Irp->CurrentLocation <= Irp->StackCount) {
        PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
        Irp->PendingReturned = (stack->Control & SL_PENDING_RETURNED) ? TRUE : FALSE;
        PIO_COMPLETION_ROUTINE routine = stack->CompletionRoutine;
        PVOID context = stack->Context;
        const UCHAR control = stack->Control;
        std::memset(stack, 0, sizeof(*stack));
        IoSkipCurrentIrpStackLocation(Irp);
        const bool invoke = routine && ((NT_SUCCESS(Irp->IoStatus.Status) && (control & SL_INVOKE_ON_SUCCESS)) ||
                                        (!NT_SUCCESS(Irp->IoStatus.Status) && (control & SL_INVOKE_ON_ERROR)) ||
                                        (Irp->Cancel && (control & SL_INVOKE_ON_CANCEL)));
        if (invoke) {
            PDEVICE_OBJECT owner =
                Irp->CurrentLocation <= Irp->StackCount ? IoGetCurrentIrpStackLocation(Irp)->DeviceObject : nullptr;
            if (routine(owner, Irp, context) == STATUS_MORE_PROCESSING_REQUIRED) return;
        } else if (Irp->PendingReturned && Irp->CurrentLocation <= Irp->StackCount) {
            IoMarkIrpPending(Irp);
        }
    }
    // Back at the sender.
    if (Irp->UserIosb) *Irp->UserIosb = Irp->IoStatus;
    if (Irp->UserEvent) {
        KeSetEvent(Irp->UserEvent, IO_NO_INCREMENT, FALSE);  // the sender frees the IRP
    } else if (!(Irp->Flags & kIrpSenderOwned)) {
        IoFreeIrp(Irp);
    }
}

VOID IoAcquireCancelSpinLock(PKIRQL Irql) { KeAcquireSpinLock(&g_cancelLock, Irql); }
VOID IoReleaseCancelSpinLock(KIRQL Irql) { KeReleaseSpinLock(&g_cancelLock, Irql); }

BOOLEAN IoCancelIrp(PIRP Irp) {
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    __atomic_store_n(&Irp->Cancel, TRUE, __ATOMIC_SEQ_CST);
    PDRIVER_CANCEL routine = IoSetCancelRoutine(Irp, nullptr);
    if (!routine) {
        IoReleaseCancelSpinLock(irql);
        return FALSE;
    }
    Irp->CancelIrql = irql;
    PDEVICE_OBJECT device =
        Irp->CurrentLocation <= Irp->StackCount ? IoGetCurrentIrpStackLocation(Irp)->DeviceObject : nullptr;
    routine(device, Irp);  // releases the cancel lock
    return TRUE;
}

NTSTATUS PoCallDriver(PDEVICE_OBJECT DeviceObject, PIRP Irp) { return IofCallDriver(DeviceObject, Irp); }
VOID PoStartNextPowerIrp(PIRP) {}

POWER_STATE PoSetPowerState(PDEVICE_OBJECT, POWER_STATE_TYPE, POWER_STATE State) {
    // The machine keeps no per-device power bookkeeping of its own.
    return State;
}

}  // extern "C"
