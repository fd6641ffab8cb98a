// Dispatch routines of the static-memory device.
#pragma once

#include <ntddk.h>

// IRP_MJ_DEVICE_CONTROL.
NTSTATUS HmbDeviceControl(PDEVICE_OBJECT device, PIRP irp);
// IRP_MJ_CREATE, IRP_MJ_CLEANUP and IRP_MJ_CLOSE.
NTSTATUS HmbCreate(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS HmbCleanup(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS HmbClose(PDEVICE_OBJECT device, PIRP irp);
