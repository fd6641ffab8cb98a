// A legacy driver that breaks the kernel's rules on request (see
// faulty_driver_protocol.h). Built for the tests only.
#include <ntddk.h>

#include <cstdint>

#include "faulty_driver_protocol.h"

using namespace nttest;

namespace {

KSPIN_LOCK g_lock;
KEVENT g_never;
volatile int* g_nowhere = nullptr;

bool endsWith(PCUNICODE_STRING s, const wchar_t* suffix) {
    size_t n = 0;
    while (suffix[n]) ++n;
    const size_t length = s->Length / sizeof(WCHAR);
    if (length < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (s->Buffer[length - n + i] != suffix[i]) return false;
    return true;
}

// The fault itself, which the undefined-behaviour checks would stop first.
__attribute__((no_sanitize("undefined"), noinline)) void writeThroughNull() { *g_nowhere = 1; }

NTSTATUS complete(PIRP irp, NTSTATUS status) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

NTSTATUS createClose(PDEVICE_OBJECT, PIRP irp) { return complete(irp, STATUS_SUCCESS); }

NTSTATUS control(PDEVICE_OBJECT, PIRP irp) {
    switch (IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.IoControlCode) {
    case kFaultEcho: return complete(irp, STATUS_SUCCESS);
    case kFaultNullDereference: writeThroughNull(); return complete(irp, STATUS_SUCCESS);
    case kFaultBugCheck: KeBugCheckEx(0xE2, 0x11, 0x22, 0x33, 0x44); return complete(irp, STATUS_SUCCESS);
    case kFaultCompleteTwice:
        irp->IoStatus.Status = STATUS_SUCCESS;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return STATUS_SUCCESS;
    case kFaultSpinLockAtPassive:
        KeAcquireSpinLockAtDpcLevel(&g_lock);
        KeReleaseSpinLockFromDpcLevel(&g_lock);
        return complete(irp, STATUS_SUCCESS);
    case kFaultSpinLockReentered: {
        KIRQL outer, inner;
        KeAcquireSpinLock(&g_lock, &outer);
        KeAcquireSpinLock(&g_lock, &inner);
        KeReleaseSpinLock(&g_lock, inner);
        KeReleaseSpinLock(&g_lock, outer);
        return complete(irp, STATUS_SUCCESS);
    }
    case kFaultWaitAtDispatch: {
        KIRQL old;
        KeRaiseIrql(DISPATCH_LEVEL, &old);
        LARGE_INTEGER timeout;
        timeout.QuadPart = -500000;  // 50 ms
        KeWaitForSingleObject(&g_never, Executive, KernelMode, FALSE, &timeout);
        KeLowerIrql(old);
        return complete(irp, STATUS_SUCCESS);
    }
    case kFaultLeakPool: ExAllocatePoolWithTag(NonPagedPool, 4096, 'kaeL'); return complete(irp, STATUS_SUCCESS);
    case kFaultPendForever: IoMarkIrpPending(irp); return STATUS_PENDING;
    default: return complete(irp, STATUS_INVALID_DEVICE_REQUEST);
    }
}

VOID unload(PDRIVER_OBJECT driver) {
    UNICODE_STRING link;
    RtlInitUnicodeString(&link, L"\\DosDevices\\NtFaulty");
    IoDeleteSymbolicLink(&link);
    if (driver->DeviceObject) IoDeleteDevice(driver->DeviceObject);
}

}  // namespace

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath) {
    KeInitializeSpinLock(&g_lock);
    KeInitializeEvent(&g_never, NotificationEvent, FALSE);
    UNICODE_STRING name, link;
    RtlInitUnicodeString(&name, L"\\Device\\NtFaulty");
    RtlInitUnicodeString(&link, L"\\DosDevices\\NtFaulty");
    PDEVICE_OBJECT device = nullptr;
    NTSTATUS status = IoCreateDevice(DriverObject, 0, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
    if (!NT_SUCCESS(status)) return status;
    status = IoCreateSymbolicLink(&link, &name);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(device);
        return status;
    }
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    DriverObject->MajorFunction[IRP_MJ_CREATE] = createClose;
    DriverObject->MajorFunction[IRP_MJ_CLOSE] = createClose;
    DriverObject->MajorFunction[IRP_MJ_DEVICE_CONTROL] = control;
    DriverObject->DriverUnload = unload;
    // Fails with its device and link in place, as a careless driver would.
    if (endsWith(RegistryPath, L"Entry")) return STATUS_DEVICE_CONFIGURATION_ERROR;
    return STATUS_SUCCESS;
}
