#include "register_window.h"

#include "register_access.h"

#include "admission.h"

namespace {

// Every request this driver admits finishes without waiting on anything,
// so a drain ends quickly; the bound only keeps a fault from hanging the
// machine's PnP thread.
constexpr LONGLONG kDrainTimeout100ns = -30LL * 10 * 1000 * 1000;

void recordRegisterResource(TernCardVIExtension* extension, const CM_PARTIAL_RESOURCE_DESCRIPTOR& resource,
                            bool portSpace) {
    extension->hasRegisters.store(true);
    // The descriptors are packed to 4 bytes: the 64-bit start is read by field.
    extension->registerStart.QuadPart = resource.u.Generic.Start.QuadPart;
    extension->registerLength.store(resource.u.Generic.Length);
    extension->portSpace.store(portSpace);
    extension->needsMapping = !portSpace;
}

void recordInterrupt(TernCardVIExtension* extension, const CM_PARTIAL_RESOURCE_DESCRIPTOR& resource) {
    extension->hasInterrupt = true;
    extension->interruptVector = resource.u.Interrupt.Vector;
    extension->interruptLevel = static_cast<KIRQL>(resource.u.Interrupt.Level);
    extension->interruptAffinity = resource.u.Interrupt.Affinity;
    extension->interruptMode = resource.Flags == CM_RESOURCE_INTERRUPT_LATCHED ? Latched : LevelSensitive;
}

}  // namespace

NTSTATUS setUpRegisters(TernCardVIExtension* extension, PCM_RESOURCE_LIST translated) {
    if (extension->started.load()) {
        return STATUS_SUCCESS;
    }
    if (translated == nullptr || translated->Count == 0) {
        return STATUS_DEVICE_CONFIGURATION_ERROR;
    }
    extension->hasRegisters.store(false);
    extension->portSpace.store(false);
    extension->needsMapping = false;
    extension->hasInterrupt = false;
    const CM_PARTIAL_RESOURCE_LIST& partials = translated->List[0].PartialResourceList;
    for (ULONG i = 0; i < partials.Count; ++i) {
        const CM_PARTIAL_RESOURCE_DESCRIPTOR& resource = partials.PartialDescriptors[i];
        switch (resource.Type) {
        case CmResourceTypeMemory: recordRegisterResource(extension, resource, false); break;
        case CmResourceTypePort:
            recordRegisterResource(extension, resource, (resource.Flags & CM_RESOURCE_PORT_IO) != 0);
            break;
        case CmResourceTypeInterrupt: recordInterrupt(extension, resource); break;
        default: break;
        }
    }
    if (extension->needsMapping) {
        auto* window = static_cast<PUCHAR>(
            MmMapIoSpace(extension->registerStart, extension->registerLength.load(), MmNonCached));
        if (window == nullptr) {
            return STATUS_NO_MEMORY;
        }
        extension->registerWindow.store(window);
    } else if (extension->hasRegisters.load()) {
        extension->registerWindow.store(
            reinterpret_cast<PUCHAR>(static_cast<ULONG_PTR>(extension->registerStart.QuadPart)));
    }
    extension->started.store(true);
    return STATUS_SUCCESS;
}

void stopDevice(TernCardVIExtension* extension) {
    extension->acceptingRequests.store(false);
    if (!extension->started.load()) {
        return;
    }
    extension->draining.store(true);
    KeClearEvent(&extension->idleEvent);
    // The initial count and the PnP request's own: what is left are the
    // requests still in the driver.
    releaseRequest(extension);
    releaseRequest(extension);
    LARGE_INTEGER timeout;
    timeout.QuadPart = kDrainTimeout100ns;
    const NTSTATUS waited = KeWaitForSingleObject(&extension->idleEvent, Executive, KernelMode, FALSE, &timeout);
    extension->draining.store(false);

    // No request is left to stop the card once the window is gone.
    haltCardDma(extension);
    PUCHAR window = extension->registerWindow.exchange(nullptr);
    if (waited == STATUS_TIMEOUT) {
        // A request is still inside: its window stays mapped rather than
        // vanish under it.
        DbgPrint("TernCardVI: requests still running after a stop; the register window is left mapped\n");
    } else if (extension->needsMapping && window != nullptr) {
        MmUnmapIoSpace(window, extension->registerLength.load());
    }
    if (extension->interruptConnected) {
        IoDisconnectInterrupt(extension->interruptObject);
        extension->interruptConnected = false;
        extension->interruptObject = nullptr;
    }
    extension->started.store(false);
    extension->outstandingRequests.fetch_add(2);
}
