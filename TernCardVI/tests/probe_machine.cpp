#include "probe_machine.h"

#include <dlfcn.h>
#include <stdlib.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>

#include "lx/internal/terncard_ioctl.h"

namespace terncardvi_test {
namespace {

constexpr const char* kProbeService = "SYSTEM\\CurrentControlSet\\Services\\TernCardVIProbe";
constexpr uint32_t kRegDword = 4, kRegSz = 1, kRegMultiSz = 7;

std::vector<uint8_t> utf16(const std::vector<std::string>& strings, bool multi) {
    std::vector<uint8_t> bytes;
    for (const std::string& s : strings) {
        for (char c : s) bytes.insert(bytes.end(), {static_cast<uint8_t>(c), 0});
        bytes.insert(bytes.end(), {0, 0});
    }
    if (multi) bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

std::vector<uint8_t> dword(uint32_t value) {
    std::vector<uint8_t> bytes(4);
    std::memcpy(bytes.data(), &value, 4);
    return bytes;
}

}  // namespace

bool eventually(const std::function<bool()>& condition) {
    for (int i = 0; i < 500; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

ResourceList& ResourceList::memory(uint64_t start, ULONG length) {
    CM_PARTIAL_RESOURCE_DESCRIPTOR d{};
    d.Type = CmResourceTypeMemory;
    d.Flags = CM_RESOURCE_MEMORY_READ_WRITE;
    d.u.Memory.Start.QuadPart = static_cast<LONGLONG>(start);
    d.u.Memory.Length = length;
    partials_.push_back(d);
    return *this;
}

ResourceList& ResourceList::port(uint64_t start, ULONG length, bool ioSpace) {
    CM_PARTIAL_RESOURCE_DESCRIPTOR d{};
    d.Type = CmResourceTypePort;
    d.Flags = ioSpace ? CM_RESOURCE_PORT_IO : CM_RESOURCE_PORT_MEMORY;
    d.u.Port.Start.QuadPart = static_cast<LONGLONG>(start);
    d.u.Port.Length = length;
    partials_.push_back(d);
    return *this;
}

ResourceList& ResourceList::interrupt(ULONG vector, ULONG level, USHORT flags) {
    CM_PARTIAL_RESOURCE_DESCRIPTOR d{};
    d.Type = CmResourceTypeInterrupt;
    d.Flags = flags;
    d.u.Interrupt.Vector = vector;
    d.u.Interrupt.Level = level;
    d.u.Interrupt.Affinity = 1;
    partials_.push_back(d);
    return *this;
}

PCM_RESOURCE_LIST ResourceList::get() {
    const size_t count = partials_.empty() ? 1 : partials_.size();
    bytes_.assign(offsetof(CM_RESOURCE_LIST, List) + offsetof(CM_FULL_RESOURCE_DESCRIPTOR, PartialResourceList) +
                      offsetof(CM_PARTIAL_RESOURCE_LIST, PartialDescriptors) +
                      count * sizeof(CM_PARTIAL_RESOURCE_DESCRIPTOR),
                  0);
    auto* list = reinterpret_cast<PCM_RESOURCE_LIST>(bytes_.data());
    list->Count = 1;
    list->List[0].InterfaceType = PCIBus;
    list->List[0].PartialResourceList.Count = static_cast<ULONG>(partials_.size());
    if (!partials_.empty())
        std::memcpy(list->List[0].PartialResourceList.PartialDescriptors, partials_.data(),
                    partials_.size() * sizeof(CM_PARTIAL_RESOURCE_DESCRIPTOR));
    return list;
}

ProbeMachine::ProbeMachine() {
    std::string pattern = (std::filesystem::temp_directory_path() / "terncardvi-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        error_ = "no temporary directory";
        return;
    }
    directory_ = pattern;
    nt::BootOptions options;
    options.config.terncards.clear();
    options.config.ramMb = 32;
    options.config.kernel.verifier = true;
    options.registryFile = directory_ + "/registry";
    options.driverDirectory = TERNCARDVI_PROBE_DIR;
    options.log = [this](const std::string& line) {
        std::lock_guard lock(logMutex_);
        log_.push_back(line);
    };
    kernel_ = nt::Kernel::boot(options, &error_);
    if (!kernel_) return;
    kernel_->registryCreateKey(kProbeService);
    kernel_->registrySet(kProbeService, "Type", kRegDword, dword(1));
    kernel_->registrySet(kProbeService, "Start", kRegDword, dword(3));
    kernel_->registrySet(kProbeService, "ImagePath", kRegSz, utf16({"TernCardVIProbe.so"}, false));
    kernel_->registrySet(kProbeService, "HardwareIds", kRegMultiSz, utf16({"PCI\\VEN_4C58&DEV_7E2D"}, true));
    card_ = std::make_shared<GateFunction>();
    if (!kernel_->plugFunction(card_, 0, 8, &device_)) {
        error_ = "the stand-in card found no slot";
        return;
    }
    void* module = ::dlopen(TERNCARDVI_PROBE_DIR "/TernCardVIProbe.so", RTLD_NOW | RTLD_NOLOAD);
    if (!module) {
        error_ = "the probe driver is not loaded";
        return;
    }
    auto driverObject = reinterpret_cast<PDRIVER_OBJECT (*)()>(::dlsym(module, "TernProbeDriverObject"));
    PDRIVER_OBJECT driver = driverObject ? driverObject() : nullptr;
    ::dlclose(module);
    if (!driver || !driver->DeviceObject) {
        error_ = "the probe driver has no device";
        return;
    }
    fdo_ = driver->DeviceObject;
}

ProbeMachine::~ProbeMachine() {
    if (kernel_) kernel_->shutdown();
    kernel_.reset();
    if (!directory_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(directory_, ignored);
    }
}

NTSTATUS ProbeMachine::open(TestProcess& process, uint64_t* handle) {
    const nt::Guid guid = TERNCARD_INTERFACE_GUID_INIT;
    const std::vector<std::string> paths = kernel_->interfacePaths(guid);
    if (paths.size() != 1) return STATUS_OBJECT_NAME_NOT_FOUND;
    return kernel_->createFile(process, paths[0], handle);
}

NTSTATUS ProbeMachine::regRequest(TestProcess& process, uint64_t handle, uint32_t operation, uint32_t offset,
                                  uint32_t value, uint32_t* output, uint32_t* information) {
    const RegisterRequest request{operation, offset, value};
    uint32_t ignored = 0;
    return kernel_->deviceIoControl(process, handle, IOCTL_TERN_REG_ACCESS, &request, sizeof request, output,
                                    output ? 4 : 0, information ? information : &ignored);
}

NTSTATUS ProbeMachine::sendPnp(UCHAR minor, PCM_RESOURCE_LIST translated) {
    PIRP irp = IoAllocateIrp(fdo_->StackSize, FALSE);
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IO_STATUS_BLOCK result{};
    irp->UserEvent = &done;
    irp->UserIosb = &result;
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
    IofCallDriver(fdo_, irp);
    LARGE_INTEGER timeout;
    timeout.QuadPart = -20LL * 10 * 1000 * 1000;
    if (KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, &timeout) != STATUS_SUCCESS) {
        return STATUS_TIMEOUT;  // the IRP is left to leak rather than freed under the driver
    }
    IoFreeIrp(irp);
    return result.Status;
}

NTSTATUS ProbeMachine::sendIrp(UCHAR major, UCHAR minor) {
    PIRP irp = IoAllocateIrp(fdo_->StackSize, FALSE);
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IO_STATUS_BLOCK result{};
    irp->UserEvent = &done;
    irp->UserIosb = &result;
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
    stack->MajorFunction = major;
    stack->MinorFunction = minor;
    if (major == IRP_MJ_POWER) {
        stack->Parameters.Power.Type = DevicePowerState;
        stack->Parameters.Power.State.DeviceState = PowerDeviceD0;
    }
    IofCallDriver(fdo_, irp);
    LARGE_INTEGER timeout;
    timeout.QuadPart = -20LL * 10 * 1000 * 1000;
    if (KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, &timeout) != STATUS_SUCCESS) return STATUS_TIMEOUT;
    IoFreeIrp(irp);
    return result.Status;
}

NTSTATUS ProbeMachine::sendRegisterRead(PFILE_OBJECT file, uint32_t offset, uint32_t* value) {
    PIRP irp = IoAllocateIrp(fdo_->StackSize, FALSE);
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IO_STATUS_BLOCK result{};
    RegisterRequest request{TERN_REG_READ_WORD, offset, 0};
    irp->UserEvent = &done;
    irp->UserIosb = &result;
    irp->AssociatedIrp.SystemBuffer = &request;
    irp->Flags |= IRP_BUFFERED_IO;
    irp->Tail.Overlay.OriginalFileObject = file;
    PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
    stack->MajorFunction = IRP_MJ_DEVICE_CONTROL;
    stack->FileObject = file;
    stack->Parameters.DeviceIoControl.IoControlCode = IOCTL_TERN_REG_ACCESS;
    stack->Parameters.DeviceIoControl.InputBufferLength = sizeof request;
    stack->Parameters.DeviceIoControl.OutputBufferLength = sizeof(uint32_t);
    IofCallDriver(fdo_, irp);
    LARGE_INTEGER timeout;
    timeout.QuadPart = -20LL * 10 * 1000 * 1000;
    if (KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, &timeout) != STATUS_SUCCESS) return STATUS_TIMEOUT;
    if (NT_SUCCESS(result.Status)) std::memcpy(value, &request, sizeof *value);
    IoFreeIrp(irp);
    return result.Status;
}

int ProbeMachine::queuedRequests() const {
    KIRQL irql;
    KeAcquireSpinLock(&fdo_->DeviceQueue.Lock, &irql);
    int count = 0;
    const PLIST_ENTRY head = &fdo_->DeviceQueue.DeviceListHead;
    for (PLIST_ENTRY entry = head->Flink; entry != head; entry = entry->Flink) ++count;
    KeReleaseSpinLock(&fdo_->DeviceQueue.Lock, irql);
    return count;
}

}  // namespace terncardvi_test
