// What the driver has issued, kept per process: windows and dynamic blocks
// stay valid from the request that made them until the same process unlocks
// or frees them (through any of its handles), or ends. Closing a handle
// releases nothing: a library that opens and closes the device around each
// call must not take the blocks of its process with it.
#pragma once

#include <ntddk.h>

#include "issued_mappings.h"

struct ProcessEntry;

// A process's list, held for the length of one request.
class ProcessMappingsRef {
public:
    ProcessMappingsRef() = default;
    explicit ProcessMappingsRef(ProcessEntry* entry) : entry_(entry) {}
    ~ProcessMappingsRef();
    ProcessMappingsRef(ProcessMappingsRef&& other) noexcept : entry_(other.entry_) { other.entry_ = nullptr; }
    ProcessMappingsRef(const ProcessMappingsRef&) = delete;
    ProcessMappingsRef& operator=(const ProcessMappingsRef&) = delete;
    ProcessMappingsRef& operator=(ProcessMappingsRef&&) = delete;

    IssuedMappings* get() const;

private:
    ProcessEntry* entry_ = nullptr;
};

namespace process_table {

// Registers the process-exit routine; at driver start.
NTSTATUS initialize();
// Removes the routine and releases what every process still holds; at unload.
void shutdown();
// The list of the calling process, made on its first open of the device
// (STATUS_INSUFFICIENT_RESOURCES when it cannot be).
NTSTATUS attachCaller();
// The list of the calling process; empty when it never opened the device.
ProcessMappingsRef caller();

}  // namespace process_table
