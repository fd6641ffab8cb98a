// Create, cleanup and close. Opening the device makes the caller's entry in
// the process table; closing a handle releases nothing, since what was issued
// belongs to the process, not to the handle it came through.
#include "device_control.h"
#include "process_table.h"

namespace {

NTSTATUS complete(PIRP irp, NTSTATUS status) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, 0);
    return status;
}

}  // namespace

NTSTATUS HmbCreate(PDEVICE_OBJECT, PIRP irp) {
    if (IoGetCurrentIrpStackLocation(irp)->FileObject == nullptr) {
        return complete(irp, STATUS_INVALID_PARAMETER);
    }
    return complete(irp, process_table::attachCaller());
}

NTSTATUS HmbCleanup(PDEVICE_OBJECT, PIRP irp) { return complete(irp, STATUS_SUCCESS); }

NTSTATUS HmbClose(PDEVICE_OBJECT, PIRP irp) { return complete(irp, STATUS_SUCCESS); }
