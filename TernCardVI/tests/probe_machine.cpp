#include "probe_machine.h"

#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include "lx/internal/terncard_ioctl.h"

namespace terncardvi_test {

bool eventually(const std::function<bool()>& condition) {
    for (int i = 0; i < 500; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

ProbeMachine::ProbeMachine()
    : probe_({.name = "terncardvi",
              .driverDirectory = TERNCARDVI_PROBE_DIR,
              .service = "TernCardVIProbe",
              .image = "TernCardVIProbe.so",
              .hardwareId = "PCI\\VEN_4C58&DEV_7E2D",
              .driverObjectSymbol = "TernProbeDriverObject",
              .firstDevice = 8},
             card_) {}

NTSTATUS ProbeMachine::open(TestProcess& process, uint64_t* handle) {
    const nt::Guid guid = TERNCARD_INTERFACE_GUID_INIT;
    const std::vector<std::string> paths = kernel().interfacePaths(guid);
    if (paths.size() != 1) return STATUS_OBJECT_NAME_NOT_FOUND;
    return kernel().createFile(process, paths[0], handle);
}

NTSTATUS ProbeMachine::regRequest(TestProcess& process, uint64_t handle, uint32_t operation, uint32_t offset,
                                  uint32_t value, uint32_t* output, uint32_t* information) {
    const RegisterRequest request{operation, offset, value};
    uint32_t ignored = 0;
    return kernel().deviceIoControl(process, handle, IOCTL_TERN_REG_ACCESS, &request, sizeof request, output,
                                    output ? 4 : 0, information ? information : &ignored);
}

NTSTATUS ProbeMachine::sendPnp(UCHAR minor, PCM_RESOURCE_LIST translated) {
    PIRP irp = probe_.allocateIrp();
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
    stack->MajorFunction = IRP_MJ_PNP;
    stack->MinorFunction = minor;
    DEVICE_CAPABILITIES capabilities{};
    capabilities.Size = sizeof capabilities;
    if (minor == IRP_MN_START_DEVICE) {
        stack->Parameters.StartDevice.AllocatedResources = translated;
        stack->Parameters.StartDevice.AllocatedResourcesTranslated = translated;
    } else if (minor == IRP_MN_QUERY_CAPABILITIES) {
        stack->Parameters.DeviceCapabilities.Capabilities = &capabilities;
    }
    return probe_.sendAndWait(irp);
}

NTSTATUS ProbeMachine::sendIrp(UCHAR major, UCHAR minor) {
    PIRP irp = probe_.allocateIrp();
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
    stack->MajorFunction = major;
    stack->MinorFunction = minor;
    if (major == IRP_MJ_POWER) {
        stack->Parameters.Power.Type = DevicePowerState;
        stack->Parameters.Power.State.DeviceState = PowerDeviceD0;
    }
    return probe_.sendAndWait(irp);
}

NTSTATUS ProbeMachine::sendRegisterRead(PFILE_OBJECT file, uint32_t offset, uint32_t* value) {
    PIRP irp = probe_.allocateIrp();
    RegisterRequest request{TERN_REG_READ_WORD, offset, 0};
    irp->AssociatedIrp.SystemBuffer = &request;
    irp->Flags |= IRP_BUFFERED_IO;
    irp->Tail.Overlay.OriginalFileObject = file;
    PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
    stack->MajorFunction = IRP_MJ_DEVICE_CONTROL;
    stack->FileObject = file;
    stack->Parameters.DeviceIoControl.IoControlCode = IOCTL_TERN_REG_ACCESS;
    stack->Parameters.DeviceIoControl.InputBufferLength = sizeof request;
    stack->Parameters.DeviceIoControl.OutputBufferLength = sizeof(uint32_t);
    const NTSTATUS status = probe_.sendAndWait(irp);
    if (NT_SUCCESS(status)) std::memcpy(value, &request, sizeof *value);
    return status;
}

int ProbeMachine::queuedRequests() const {
    KIRQL irql;
    KeAcquireSpinLock(&fdo()->DeviceQueue.Lock, &irql);
    int count = 0;
    const PLIST_ENTRY head = &fdo()->DeviceQueue.DeviceListHead;
    for (PLIST_ENTRY entry = head->Flink; entry != head; entry = entry->Flink) ++count;
    KeReleaseSpinLock(&fdo()->DeviceQueue.Lock, irql);
    return count;
}

}  // namespace terncardvi_test
