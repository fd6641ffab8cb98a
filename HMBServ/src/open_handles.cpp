// Create, cleanup and close: each open handle carries the list of what was
// mapped and allocated through it; cleanup (in the context of the process
// that closes the handle or has died) undoes all of it.
#include "device_control.h"
#include "issued_mappings.h"

namespace {

NTSTATUS complete(PIRP irp, NTSTATUS status) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, 0);
    return status;
}

}  // namespace

NTSTATUS HmbCreate(PDEVICE_OBJECT, PIRP irp) {
    PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
    if (file == nullptr) {
        return complete(irp, STATUS_INVALID_PARAMETER);
    }
    IssuedMappings* issued = IssuedMappings::create();
    if (issued == nullptr) {
        return complete(irp, STATUS_INSUFFICIENT_RESOURCES);
    }
    file->FsContext = issued;
    return complete(irp, STATUS_SUCCESS);
}

NTSTATUS HmbCleanup(PDEVICE_OBJECT, PIRP irp) {
    if (IssuedMappings* issued = issuedMappings(IoGetCurrentIrpStackLocation(irp)->FileObject)) {
        while (IssuedMapping* entry = issued->takeAny()) {
            IssuedMappings::release(entry);
        }
    }
    return complete(irp, STATUS_SUCCESS);
}

NTSTATUS HmbClose(PDEVICE_OBJECT, PIRP irp) {
    PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
    if (file != nullptr) {
        IssuedMappings::destroy(issuedMappings(file));
        file->FsContext = nullptr;
    }
    return complete(irp, STATUS_SUCCESS);
}
