// A legacy driver that breaks the kernel's rules on request (see
// faulty_driver_protocol.h). Built for the tests only.
#include <ntddk.h>

#include <cstdint>

#include "faulty_driver_protocol.h"

using namespace nttest;

namespace {

KSPIN_LOCK g_lock;
KEVENT g_never;
KDPC g_longDpc;
volatile int* g_nowhere = nullptr;
bool g_stuck = false;                    // never completes cleanup, close, power and remove
PDEVICE_OBJECT g_fdo = nullptr;          // the PnP device, attached on top of
PDEVICE_OBJECT g_lower = nullptr;        // this one
volatile LONG g_pending = 0;             // requests held pending
char g_mdlBuffer[4096];

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

NTSTATUS pendForever(PIRP irp) {
    InterlockedIncrement(&g_pending);
    IoMarkIrpPending(irp);
    return STATUS_PENDING;
}

NTSTATUS create(PDEVICE_OBJECT, PIRP irp) { return complete(irp, STATUS_SUCCESS); }

NTSTATUS cleanupClose(PDEVICE_OBJECT, PIRP irp) { return g_stuck ? pendForever(irp) : complete(irp, STATUS_SUCCESS); }

// Spins (a DPC may not wait) far past the bound any flush waits in the tests.
VOID longDpc(PKDPC, PVOID, PVOID, PVOID) {
    for (uint32_t ms = 0; ms < kLongDpcMs; ++ms) KeStallExecutionProcessor(1000);
}

void deletePnpDevice() {
    UNICODE_STRING link;
    RtlInitUnicodeString(&link, L"\\DosDevices\\NtFaultyPnp");
    IoDeleteSymbolicLink(&link);
    IoDetachDevice(g_lower);
    IoDeleteDevice(g_fdo);
    g_fdo = g_lower = nullptr;
}

NTSTATUS addDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo) {
    UNICODE_STRING name, link;
    RtlInitUnicodeString(&name, L"\\Device\\NtFaultyPnp");
    RtlInitUnicodeString(&link, L"\\DosDevices\\NtFaultyPnp");
    PDEVICE_OBJECT fdo = nullptr;
    NTSTATUS status = IoCreateDevice(driver, 0, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &fdo);
    if (!NT_SUCCESS(status)) return status;
    g_lower = IoAttachDeviceToDeviceStack(fdo, pdo);
    if (!g_lower) {
        IoDeleteDevice(fdo);
        return STATUS_NO_SUCH_DEVICE;
    }
    g_fdo = fdo;
    IoCreateSymbolicLink(&link, &name);
    fdo->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

NTSTATUS pnp(PDEVICE_OBJECT device, PIRP irp) {
    if (device != g_fdo) return complete(irp, STATUS_NOT_SUPPORTED);
    const UCHAR minor = IoGetCurrentIrpStackLocation(irp)->MinorFunction;
    if (minor == IRP_MN_REMOVE_DEVICE && g_stuck) return pendForever(irp);
    IoSkipCurrentIrpStackLocation(irp);
    const NTSTATUS status = IoCallDriver(g_lower, irp);
    if (minor == IRP_MN_REMOVE_DEVICE) deletePnpDevice();
    return status;
}

NTSTATUS power(PDEVICE_OBJECT device, PIRP irp) {
    if (device != g_fdo) return complete(irp, STATUS_SUCCESS);
    if (g_stuck) return pendForever(irp);
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(g_lower, irp);
}

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
    case kFaultPendForever: return pendForever(irp);
    case kFaultLeakMdl:
        IoAllocateMdl(g_mdlBuffer, sizeof g_mdlBuffer, FALSE, FALSE, nullptr);
        return complete(irp, STATUS_SUCCESS);
    case kFaultQueueLongDpc: KeInsertQueueDpc(&g_longDpc, nullptr, nullptr); return complete(irp, STATUS_SUCCESS);
    case kFaultFlushDpcs: KeFlushQueuedDpcs(); return complete(irp, STATUS_SUCCESS);
    case kFaultPendingCount: {
        PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
        if (stack->Parameters.DeviceIoControl.OutputBufferLength < sizeof(ULONG))
            return complete(irp, STATUS_BUFFER_TOO_SMALL);
        const LONG pending = __atomic_load_n(&g_pending, __ATOMIC_SEQ_CST);
        *static_cast<ULONG*>(irp->AssociatedIrp.SystemBuffer) = static_cast<ULONG>(pending);
        irp->IoStatus.Status = STATUS_SUCCESS;
        irp->IoStatus.Information = sizeof(ULONG);
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return STATUS_SUCCESS;
    }
    default: return complete(irp, STATUS_INVALID_DEVICE_REQUEST);
    }
}

// Deletes the legacy device; a PnP device still there was never removed.
VOID unload(PDRIVER_OBJECT driver) {
    UNICODE_STRING link;
    RtlInitUnicodeString(&link, L"\\DosDevices\\NtFaulty");
    IoDeleteSymbolicLink(&link);
    for (PDEVICE_OBJECT device = driver->DeviceObject; device; device = device->NextDevice) {
        if (device != g_fdo) {
            IoDeleteDevice(device);
            break;
        }
    }
}

}  // namespace

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath) {
    KeInitializeSpinLock(&g_lock);
    KeInitializeEvent(&g_never, NotificationEvent, FALSE);
    KeInitializeDpc(&g_longDpc, longDpc, nullptr);
    g_stuck = endsWith(RegistryPath, L"Stuck");
    g_fdo = g_lower = nullptr;
    g_pending = 0;
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
    DriverObject->MajorFunction[IRP_MJ_CREATE] = create;
    DriverObject->MajorFunction[IRP_MJ_CLEANUP] = cleanupClose;
    DriverObject->MajorFunction[IRP_MJ_CLOSE] = cleanupClose;
    DriverObject->MajorFunction[IRP_MJ_DEVICE_CONTROL] = control;
    DriverObject->MajorFunction[IRP_MJ_PNP] = pnp;
    DriverObject->MajorFunction[IRP_MJ_POWER] = power;
    DriverObject->DriverExtension->AddDevice = addDevice;
    DriverObject->DriverUnload = unload;
    // Fails with its device and link in place, as a careless driver would.
    if (endsWith(RegistryPath, L"Entry")) return STATUS_DEVICE_CONFIGURATION_ERROR;
    return STATUS_SUCCESS;
}
