// What the kernel keeps beside each DEVICE_OBJECT (reached through its
// DeviceObjectExtension): its name, open state and place in a stack.
#pragma once

#include <atomic>
#include <string>

#include "ntddk.h"

namespace nt {

struct DeviceNode;

struct DeviceRuntime {
    std::string name;  // "\Device\X", empty when unnamed
    bool exclusive = false;
    std::atomic<bool> deleted{false};  // IoDeleteDevice ran; freed once no file refers to it
    PIO_DPC_ROUTINE dpcRoutine = nullptr;
    PDEVICE_OBJECT lower = nullptr;  // the device this one is attached to
    DeviceNode* node = nullptr;      // set on physical device objects
};

inline DeviceRuntime* deviceRuntime(PDEVICE_OBJECT device) {
    return static_cast<DeviceRuntime*>(device->DeviceObjectExtension);
}

// Frees a device object whose deletion waited for its last file.
void freeDeviceObject(PDEVICE_OBJECT device);

}  // namespace nt
