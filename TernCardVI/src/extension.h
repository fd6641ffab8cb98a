// The card's device extension: the device stack it sits in, the request
// admission state, the register window and the card's location.
#pragma once

#include <ntddk.h>

#include <atomic>
#include <type_traits>

struct TernCardVIExtension {
    PDEVICE_OBJECT deviceObject;
    PDEVICE_OBJECT physicalDeviceObject;  // for property queries
    PDEVICE_OBJECT lowerDevice;           // requests are passed to it
    UNICODE_STRING interfaceLinkName;     // from the interface registration

    std::atomic<bool> started;  // the register window is set up
    // False until start; start, cancel-stop and cancel-remove set it;
    // query-stop, query-remove, stop and surprise removal clear it.
    std::atomic<bool> acceptingRequests;
    // Set while a query-remove looks at the open count: opens are refused
    // then, requests on open handles are not.
    std::atomic<bool> removalQueried;
    std::atomic<LONG> openCount;
    // Starts at 1; every admitted request holds one count until it is
    // completed or passed down. Stop waits for it to reach 0.
    std::atomic<LONG> outstandingRequests;
    std::atomic<bool> draining;
    KEVENT idleEvent;

    // Register resource, from the translated resources at start.
    std::atomic<bool> hasRegisters;
    std::atomic<bool> portSpace;  // accessed with port instructions
    bool needsMapping;            // memory registers, mapped with MmMapIoSpace
    std::atomic<PUCHAR> registerWindow;  // mapped address or port base
    PHYSICAL_ADDRESS registerStart;
    std::atomic<ULONG> registerLength;

    // Interrupt resource, recorded only: the card is polled from user mode.
    bool hasInterrupt;
    ULONG interruptVector;
    KIRQL interruptLevel;
    KINTERRUPT_MODE interruptMode;
    KAFFINITY interruptAffinity;
    PKINTERRUPT interruptObject;
    bool interruptConnected;

    // Location answered by the slot request.
    std::atomic<USHORT> deviceNumber;
    std::atomic<USHORT> functionNumber;
    std::atomic<ULONG> busNumber;
    std::atomic<ULONG> slotNumber;
};

// Nothing to run at removal: the device object's memory is all there is.
static_assert(std::is_trivially_destructible_v<TernCardVIExtension>);

inline TernCardVIExtension* cardExtension(PDEVICE_OBJECT device) {
    return static_cast<TernCardVIExtension*>(device->DeviceExtension);
}

// Completes a request that the driver finishes itself.
inline NTSTATUS completeRequest(PIRP irp, NTSTATUS status, ULONG_PTR information = 0) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = NT_SUCCESS(status) ? information : 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}
