// The audio device's extension: its place in the device stack, the request
// admission state, the register window and interrupt, and the wait requests.
#pragma once

#include <ntddk.h>

#include <atomic>
#include <type_traits>

struct AudioDeviceState {
    PDEVICE_OBJECT DeviceObject;
    PDEVICE_OBJECT physicalDevice;
    PDEVICE_OBJECT lowerDevice;     // every request passed on goes to it
    UNICODE_STRING interfaceName;   // from the interface registration; freed at removal
    UNICODE_STRING linkName;        // "\DosDevices\HeronAudioCapN", in linkBuffer
    WCHAR linkBuffer[48];
    ULONG instanceNumber;

    std::atomic<bool> HardwareStarted;  // registers mapped and interrupt connected
    std::atomic<bool> StopPending;      // new wait requests are refused
    std::atomic<bool> NotReady;         // create, read, write, control, system control refused
    // Raised while a query-remove looks at the open count: opens are refused
    // then, requests on the open handle are not.
    std::atomic<bool> removalQueried;
    std::atomic<LONG> OpenCount;
    // Requests in the driver plus one; a stop waits for it to reach 0.
    std::atomic<LONG> OutstandingCount;
    std::atomic<bool> Removing;
    KEVENT removeEvent;

    // Register window, from the translated resources at start.
    std::atomic<bool> hasRegisters;
    std::atomic<bool> portIo;  // reached with port instructions
    std::atomic<bool> mapped;  // memory space, mapped with MmMapIoSpace
    std::atomic<PUCHAR> registerBase;  // mapped address or port number
    PHYSICAL_ADDRESS resourceStart;
    std::atomic<ULONG> resourceLength;

    // Interrupt; once started, hasInterrupt also means connected.
    bool hasInterrupt;
    ULONG interruptVector;
    KIRQL interruptLevel;
    KINTERRUPT_MODE interruptMode;
    KAFFINITY interruptAffinity;
    PKINTERRUPT interruptObject;

    // Guards PendingWait and WaitQueue.
    KSPIN_LOCK WaitLock;
    LIST_ENTRY WaitQueue;  // IRPs linked by Tail.Overlay.ListEntry, in arrival order
    PIRP PendingWait;      // completed at the next multiple of 4

    std::atomic<ULONG> InterruptCount;  // block interrupts; replaced by IOCTL_AUDIO_SET_CONFIG
    // How many times the interrupt routine brought InterruptCount to a
    // multiple of 4; each wait is completed by the first such event after
    // it became the pending one.
    std::atomic<ULONGLONG> quadruples;
    KDPC waitDpc;  // completes the waits that the interrupt routine made due
};

// The device object's memory is all there is: nothing to run at removal.
static_assert(std::is_trivially_destructible_v<AudioDeviceState>);

inline AudioDeviceState* audioState(PDEVICE_OBJECT device) {
    return static_cast<AudioDeviceState*>(device->DeviceExtension);
}

// Completes a request the driver finishes itself; failures carry no data.
inline NTSTATUS completeRequest(PIRP irp, NTSTATUS status, ULONG_PTR information = 0) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = NT_SUCCESS(status) ? information : 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}
