// HMBServ: the static-memory driver. A service without hardware: at start it
// creates its device and link and reserves the static memory.
#include <ntddk.h>

#include "device_control.h"
#include "process_table.h"
#include "static_mem_state.h"
#include "static_reservation.h"

namespace {

constexpr WCHAR kDeviceName[] = L"\\Device\\HMBServ";
constexpr WCHAR kLinkName[] = L"\\DosDevices\\HMBServ";

VOID HmbUnload(PDRIVER_OBJECT driver) {
    PDEVICE_OBJECT device = driver->DeviceObject;
    if (device == nullptr) {
        return;
    }
    process_table::shutdown();
    releaseStaticMemory(staticMemState(device));
    UNICODE_STRING link;
    RtlInitUnicodeString(&link, kLinkName);
    // A link that cannot be deleted keeps its device.
    if (NT_SUCCESS(IoDeleteSymbolicLink(&link))) {
        IoDeleteDevice(device);
    }
}

}  // namespace

NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    UNICODE_STRING deviceName;
    RtlInitUnicodeString(&deviceName, kDeviceName);
    PDEVICE_OBJECT device = nullptr;
    NTSTATUS status =
        IoCreateDevice(driver, sizeof(StaticMemState), &deviceName, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    StaticMemState* state = staticMemState(device);
    RtlZeroMemory(state, sizeof *state);
    state->DeviceObject = device;
    status = process_table::initialize();
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(device);
        return status;
    }

    driver->MajorFunction[IRP_MJ_CREATE] = HmbCreate;
    driver->MajorFunction[IRP_MJ_CLEANUP] = HmbCleanup;
    driver->MajorFunction[IRP_MJ_CLOSE] = HmbClose;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = HmbDeviceControl;
    driver->DriverUnload = HmbUnload;

    UNICODE_STRING link;
    RtlInitUnicodeString(&link, kLinkName);
    status = IoCreateSymbolicLink(&link, &deviceName);
    if (!NT_SUCCESS(status)) {
        process_table::shutdown();
        IoDeleteDevice(device);
        return status;
    }
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    // Running without static memory is not a failure of the start.
    reserveStaticMemory(state, registryPath);
    return STATUS_SUCCESS;
}
