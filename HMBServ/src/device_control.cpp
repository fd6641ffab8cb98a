// The device-control dispatcher: exact buffer lengths per code, then the
// handler. Requests arrive in the caller's thread and context.
#include "device_control.h"

#include "control_requests.h"
#include "process_table.h"
#include "lx/hmb_control_codes.h"
#include "lx/static_mem_records.h"

namespace {

struct ControlCode {
    ULONG code;
    ULONG inputLength;
    ULONG outputLength;
    ControlResult (*handle)(const ControlRequest&);
};

constexpr ControlCode kControlCodes[] = {
    {IOCTL_HMB_STATIC_LOCK, sizeof(StaticMemBlock), sizeof(StaticMemBlock), lockStaticWindow},
    {IOCTL_HMB_STATIC_UNLOCK, sizeof(StaticMemBlock), 0, unlockStaticWindow},
    {IOCTL_HMB_DYNAMIC_ALLOC, sizeof(uint32_t), sizeof(DynamicMemBlock), allocateDynamicBlock},
    {IOCTL_HMB_DYNAMIC_FREE, sizeof(DynamicMemBlock), 0, freeDynamicBlock},
    {IOCTL_HMB_PHYSICAL_ADDRESS, sizeof(uint64_t), sizeof(uint32_t), translateCallerAddress},
    {IOCTL_HMB_FIND_DISPLAY_ADAPTER, 0, 2 * sizeof(uint32_t), findDisplayAdapter},
    {IOCTL_HMB_STATIC_BASE, 0, sizeof(uint32_t), reportStaticBase},
    {IOCTL_HMB_STATIC_FILL, sizeof(StaticFillRequest), 0, fillStaticMemory},
};

ControlResult dispatch(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    for (const ControlCode& entry : kControlCodes) {
        if (entry.code != code) {
            continue;
        }
        if (stack->Parameters.DeviceIoControl.InputBufferLength != entry.inputLength ||
            stack->Parameters.DeviceIoControl.OutputBufferLength != entry.outputLength) {
            return {STATUS_INVALID_PARAMETER, 0};
        }
        const ProcessMappingsRef issued = process_table::caller();
        if (issued.get() == nullptr) {
            return {STATUS_INVALID_DEVICE_REQUEST, 0};  // the process never opened the device
        }
        return entry.handle({staticMemState(device), issued.get(), irp->AssociatedIrp.SystemBuffer});
    }
    return {STATUS_INVALID_DEVICE_REQUEST, 0};
}

}  // namespace

NTSTATUS HmbDeviceControl(PDEVICE_OBJECT device, PIRP irp) {
    irp->IoStatus.Information = 0;
    const ControlResult result = dispatch(device, irp);
    irp->IoStatus.Status = result.status;
    irp->IoStatus.Information = NT_SUCCESS(result.status) ? result.information : 0;
    IoCompleteRequest(irp, 0);
    return result.status;
}
