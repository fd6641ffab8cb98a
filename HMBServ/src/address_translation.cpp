// Physical address of an address of the calling process.
#include "control_requests.h"

ControlResult translateCallerAddress(const ControlRequest& request) {
    ULONG64 address = 0;
    RtlCopyMemory(&address, request.buffer, sizeof address);
    ULONG physical = 0;
    // Runs in the caller's context, so the address is looked up in its views.
    PVOID pointer = reinterpret_cast<PVOID>(address);
    if (MmIsAddressValid(pointer)) {
        physical = MmGetPhysicalAddress(pointer).LowPart;
    }
    RtlCopyMemory(request.buffer, &physical, sizeof physical);
    return {STATUS_SUCCESS, sizeof physical};
}
