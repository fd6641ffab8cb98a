// The device extension of the static-memory device. The first three fields
// are set once, at driver start, and never change while the driver runs.
#pragma once

#include <ntddk.h>

struct StaticMemState {
    PVOID KernelAddress;     // system address of the static memory; null when none
    ULONG PhysicalAddress;   // its first byte (the block lies below 4 GB)
    ULONG Size;              // bytes; 0 when none is reserved
    PDEVICE_OBJECT DeviceObject;
};

// Highest acceptable physical address of every contiguous block.
inline constexpr LONGLONG kHighestAcceptableAddress = 0xFFFFFFFFLL;

inline StaticMemState* staticMemState(PDEVICE_OBJECT device) {
    return static_cast<StaticMemState*>(device->DeviceExtension);
}
