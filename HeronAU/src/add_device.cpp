// Add-device: a named, exclusive device object per audio function, its
// numbered link and its device interface, attached above the bus driver's
// device object. The numbers are never reused.
#include <atomic>
#include <new>

#include "audio_state.h"
#include "dispatch.h"
#include "lx/internal/heron_audio_ioctl.h"
#include "wait_queue.h"

namespace {

constexpr DEVICE_TYPE kAudioDeviceType = 0x8000;
const GUID kAudioInterface = HERON_AUDIO_INTERFACE_GUID_INIT;

// Devices ever added; names the next one and is what the device-count request answers.
std::atomic<ULONG> g_instanceCounter{0};

// `prefix` followed by `number` in decimal, into `name` (its buffer set by the caller).
NTSTATUS numberedName(PUNICODE_STRING name, PCWSTR prefix, ULONG number) {
    WCHAR digits[12];
    UNICODE_STRING text{0, sizeof digits, digits};
    name->Length = 0;
    NTSTATUS status = RtlAppendUnicodeToString(name, prefix);
    if (NT_SUCCESS(status)) status = RtlIntegerToUnicodeString(number, 10, &text);
    if (NT_SUCCESS(status)) status = RtlAppendUnicodeStringToString(name, &text);
    return status;
}

}  // namespace

ULONG audioDevicesAdded() { return g_instanceCounter.load(); }

NTSTATUS AudioAddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT physicalDevice) {
    const ULONG number = g_instanceCounter.load();
    WCHAR deviceBuffer[48];
    UNICODE_STRING deviceName{0, sizeof deviceBuffer, deviceBuffer};
    NTSTATUS status = numberedName(&deviceName, L"\\Device\\HeronAudioCap", number);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    PDEVICE_OBJECT device = nullptr;
    status = IoCreateDevice(driver, sizeof(AudioDeviceState), &deviceName, kAudioDeviceType, 0, TRUE, &device);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    auto* state = new (device->DeviceExtension) AudioDeviceState{};
    state->DeviceObject = device;
    state->physicalDevice = physicalDevice;
    state->instanceNumber = number;
    state->linkName = UNICODE_STRING{0, sizeof state->linkBuffer, state->linkBuffer};
    status = numberedName(&state->linkName, L"\\DosDevices\\HeronAudioCap", number);
    if (NT_SUCCESS(status)) {
        status = IoCreateSymbolicLink(&state->linkName, &deviceName);
    }
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(device);
        return status;
    }
    g_instanceCounter.fetch_add(1);

    state->OutstandingCount.store(1);
    KeInitializeEvent(&state->removeEvent, NotificationEvent, FALSE);
    state->StopPending.store(true);
    state->NotReady.store(true);
    KeInitializeSpinLock(&state->WaitLock);
    InitializeListHead(&state->WaitQueue);
    state->PendingWait = nullptr;
    KeInitializeDpc(&state->waitDpc, AudioWaitDpc, state);

    status = IoRegisterDeviceInterface(physicalDevice, &kAudioInterface, nullptr, &state->interfaceName);
    if (!NT_SUCCESS(status)) {
        IoDeleteSymbolicLink(&state->linkName);
        IoDeleteDevice(device);
        return status;
    }
    state->lowerDevice = IoAttachDeviceToDeviceStack(device, physicalDevice);
    if (state->lowerDevice == nullptr) {
        RtlFreeUnicodeString(&state->interfaceName);
        IoDeleteSymbolicLink(&state->linkName);
        IoDeleteDevice(device);
        return STATUS_NO_SUCH_DEVICE;
    }
    device->Flags |= DO_BUFFERED_IO | DO_POWER_PAGABLE;
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}
