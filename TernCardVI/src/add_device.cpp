// Add-device: an unnamed, exclusive device object above the card's PDO and
// the card's device interface, enabled once the card has started.
#include <new>

#include "dispatch.h"
#include "extension.h"
#include "lx/internal/terncard_ioctl.h"

namespace {

constexpr DEVICE_TYPE kTernDeviceType = 0x8000;
const GUID kTernCardInterface = TERNCARD_INTERFACE_GUID_INIT;

}  // namespace

NTSTATUS TernAddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT physicalDevice) {
    PDEVICE_OBJECT device = nullptr;
    NTSTATUS status =
        IoCreateDevice(driver, sizeof(TernCardVIExtension), nullptr, kTernDeviceType, 0, TRUE, &device);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    auto* extension = new (device->DeviceExtension) TernCardVIExtension{};
    extension->deviceObject = device;
    extension->physicalDeviceObject = physicalDevice;
    extension->outstandingRequests.store(1);
    KeInitializeEvent(&extension->idleEvent, NotificationEvent, FALSE);

    status = IoRegisterDeviceInterface(physicalDevice, &kTernCardInterface, nullptr, &extension->interfaceLinkName);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(device);
        return status;
    }
    extension->lowerDevice = IoAttachDeviceToDeviceStack(device, physicalDevice);
    if (extension->lowerDevice == nullptr) {
        RtlFreeUnicodeString(&extension->interfaceLinkName);
        IoDeleteDevice(device);
        return STATUS_NO_SUCH_DEVICE;
    }
    device->Flags |= DO_BUFFERED_IO | DO_POWER_PAGABLE;
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}
