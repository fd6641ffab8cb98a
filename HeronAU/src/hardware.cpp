#include "hardware.h"

#include "interrupt.h"
#include "lx/internal/heron_audio_ioctl.h"
#include "outstanding.h"
#include "register_io.h"
#include "wait_queue.h"

namespace {

// Every request left in the driver once the waits are completed finishes
// without waiting on anything; the bound keeps a fault from hanging the
// machine's PnP thread.
constexpr LONGLONG kDrainTimeout100ns = -30LL * 10 * 1000 * 1000;

void recordRegisters(AudioDeviceState* state, const CM_PARTIAL_RESOURCE_DESCRIPTOR& resource, bool portIo) {
    state->hasRegisters.store(true);
    // The descriptors are packed to 4 bytes: the 64-bit start is read by field.
    state->resourceStart.QuadPart = resource.u.Generic.Start.QuadPart;
    state->resourceLength.store(resource.u.Generic.Length);
    state->portIo.store(portIo);
    state->mapped.store(!portIo);
}

void recordInterrupt(AudioDeviceState* state, const CM_PARTIAL_RESOURCE_DESCRIPTOR& resource) {
    state->hasInterrupt = true;
    state->interruptLevel = static_cast<KIRQL>(resource.u.Interrupt.Level);
    state->interruptVector = resource.u.Interrupt.Vector;
    state->interruptAffinity = resource.u.Interrupt.Affinity;
    state->interruptMode = resource.Flags == CM_RESOURCE_INTERRUPT_LATCHED ? Latched : LevelSensitive;
}

void unmapWindow(AudioDeviceState* state) {
    PUCHAR base = state->registerBase.exchange(nullptr);
    if (state->mapped.load() && base != nullptr) {
        MmUnmapIoSpace(base, state->resourceLength.load());
    }
}

// The interrupt goes first: its routine reads the window. A DPC it queued
// may still be waiting to run; it is flushed before the device can go.
void disconnectInterrupt(AudioDeviceState* state) {
    if (state->interruptObject != nullptr) {
        IoDisconnectInterrupt(state->interruptObject);
        state->interruptObject = nullptr;
    }
    KeFlushQueuedDpcs();
}

}  // namespace

NTSTATUS startHardware(AudioDeviceState* state, PCM_RESOURCE_LIST translated) {
    if (state->HardwareStarted.load()) {
        return STATUS_SUCCESS;
    }
    if (translated == nullptr || translated->Count == 0) {
        return STATUS_DEVICE_CONFIGURATION_ERROR;
    }
    state->hasRegisters.store(false);
    state->portIo.store(false);
    state->mapped.store(false);
    state->hasInterrupt = false;
    const CM_PARTIAL_RESOURCE_LIST& partials = translated->List[0].PartialResourceList;
    for (ULONG i = 0; i < partials.Count; ++i) {
        const CM_PARTIAL_RESOURCE_DESCRIPTOR& resource = partials.PartialDescriptors[i];
        switch (resource.Type) {
        case CmResourceTypePort: recordRegisters(state, resource, (resource.Flags & CM_RESOURCE_PORT_IO) != 0); break;
        case CmResourceTypeMemory: recordRegisters(state, resource, false); break;
        case CmResourceTypeInterrupt: recordInterrupt(state, resource); break;
        default: break;
        }
    }
    if (!state->hasRegisters.load()) {
        // Started without registers: every request is refused for want of them.
        state->hasInterrupt = false;
        state->HardwareStarted.store(true);
        return STATUS_SUCCESS;
    }
    if (state->mapped.load()) {
        auto* base = static_cast<PUCHAR>(MmMapIoSpace(state->resourceStart, state->resourceLength.load(), MmNonCached));
        if (base == nullptr) {
            state->mapped.store(false);
            return STATUS_NO_MEMORY;
        }
        state->registerBase.store(base);
    } else {
        state->registerBase.store(reinterpret_cast<PUCHAR>(static_cast<ULONG_PTR>(state->resourceStart.LowPart)));
    }
    if (insideWindow(state, AUDIO_CONTROL_REGISTER, sizeof(ULONG))) {
        writeRegisterUlong(state, AUDIO_CONTROL_REGISTER, 0);
    }
    if (state->hasInterrupt && !insideWindow(state, AUDIO_STATUS_REGISTER, sizeof(ULONG))) {
        // The routine would read the status register outside the window.
        DbgPrint("HeronAU: the register window ends before the status register; the interrupt is not connected\n");
        state->hasInterrupt = false;
    }
    if (state->hasInterrupt) {
        const NTSTATUS status =
            IoConnectInterrupt(&state->interruptObject, AudioInterrupt, state, nullptr, state->interruptVector,
                               state->interruptLevel, state->interruptLevel, state->interruptMode, TRUE,
                               state->interruptAffinity, FALSE);
        if (!NT_SUCCESS(status)) {
            state->hasInterrupt = false;
            state->interruptObject = nullptr;
            unmapWindow(state);
            return status;
        }
    }
    state->HardwareStarted.store(true);
    return STATUS_SUCCESS;
}

void stopDevice(AudioDeviceState* state) {
    state->NotReady.store(true);
    if (!state->HardwareStarted.load()) {
        return;
    }
    // No block interrupt will come for the waits once the hardware is gone.
    cancelAllWaits(state);
    state->Removing.store(true);
    KeResetEvent(&state->removeEvent);
    // The base count and the PnP request's own: what is left are the
    // requests still in the driver.
    giveOutstanding(state);
    giveOutstanding(state);
    LARGE_INTEGER timeout;
    timeout.QuadPart = kDrainTimeout100ns;
    const NTSTATUS waited = KeWaitForSingleObject(&state->removeEvent, Executive, KernelMode, FALSE, &timeout);
    state->Removing.store(false);

    state->HardwareStarted.store(false);
    if (state->hasRegisters.load() && state->registerBase.load() != nullptr &&
        insideWindow(state, AUDIO_CONTROL_REGISTER, sizeof(ULONG))) {
        writeRegisterUlong(state, AUDIO_CONTROL_REGISTER, 0);  // no more block interrupts
    }
    disconnectInterrupt(state);
    if (waited == STATUS_TIMEOUT) {
        // A request is still inside: the window stays mapped rather than vanish under it.
        DbgPrint("HeronAU: requests still running after a stop; the register window is left mapped\n");
    } else {
        unmapWindow(state);
    }
    state->OutstandingCount.fetch_add(2);
}
