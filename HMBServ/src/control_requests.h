// The handlers of the device control requests. Each works on the request's
// system buffer, whose lengths the dispatcher has already checked, and
// returns the request's status and the bytes to copy back.
#pragma once

#include "issued_mappings.h"
#include "static_mem_state.h"

struct ControlRequest {
    const StaticMemState* state;
    IssuedMappings* issued;  // of the calling process
    PVOID buffer;            // input in, output back (buffered transfer)
};

struct ControlResult {
    NTSTATUS status;
    ULONG information;
};

ControlResult lockStaticWindow(const ControlRequest& request);
ControlResult unlockStaticWindow(const ControlRequest& request);
ControlResult fillStaticMemory(const ControlRequest& request);
ControlResult reportStaticBase(const ControlRequest& request);
ControlResult allocateDynamicBlock(const ControlRequest& request);
ControlResult freeDynamicBlock(const ControlRequest& request);
ControlResult translateCallerAddress(const ControlRequest& request);
ControlResult findDisplayAdapter(const ControlRequest& request);
