#include "probe_machine.h"

#include <dlfcn.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>

#include "lx/internal/heron_audio_ioctl.h"

namespace heronau_test {
namespace {

constexpr const char* kProbeService = "SYSTEM\\CurrentControlSet\\Services\\HeronAUProbe";
constexpr uint32_t kRegDword = 4, kRegSz = 1, kRegMultiSz = 7;

std::vector<uint8_t> utf16(const std::string& text, bool multi) {
    std::vector<uint8_t> bytes;
    for (char c : text) bytes.insert(bytes.end(), {static_cast<uint8_t>(c), 0});
    bytes.insert(bytes.end(), {0, 0});
    if (multi) bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

std::vector<uint8_t> dword(uint32_t value) {
    std::vector<uint8_t> bytes(4);
    std::memcpy(bytes.data(), &value, 4);
    return bytes;
}

}  // namespace

ResourceList& ResourceList::memory(uint64_t start, ULONG length) {
    CM_PARTIAL_RESOURCE_DESCRIPTOR d{};
    d.Type = CmResourceTypeMemory;
    d.Flags = CM_RESOURCE_MEMORY_READ_WRITE;
    d.u.Memory.Start.QuadPart = static_cast<LONGLONG>(start);
    d.u.Memory.Length = length;
    partials_.push_back(d);
    return *this;
}

ResourceList& ResourceList::port(uint64_t start, ULONG length) {
    CM_PARTIAL_RESOURCE_DESCRIPTOR d{};
    d.Type = CmResourceTypePort;
    d.Flags = CM_RESOURCE_PORT_IO;
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
    std::string pattern = (std::filesystem::temp_directory_path() / "heronau-XXXXXX").string();
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
    options.driverDirectory = HERONAU_PROBE_DIR;
    options.log = [](const std::string&) {};
    kernel_ = nt::Kernel::boot(options, &error_);
    if (!kernel_) return;
    // The most specific identifier of the function: matched before HeronAU's.
    kernel_->registryCreateKey(kProbeService);
    kernel_->registrySet(kProbeService, "Type", kRegDword, dword(1));
    kernel_->registrySet(kProbeService, "Start", kRegDword, dword(3));
    kernel_->registrySet(kProbeService, "ImagePath", kRegSz, utf16("HeronAUProbe.so", false));
    kernel_->registrySet(kProbeService, "HardwareIds", kRegMultiSz,
                         utf16("PCI\\VEN_4C58&DEV_4E20&SUBSYS_00014C58&REV_01", true));
    audio_ = std::make_shared<lxhw::heron::HeronAudio>(lxhw::heron::HeronAudioSetup{});
    if (!kernel_->plugFunction(audio_, 0, 16, &device_)) {
        error_ = "the audio function found no slot";
        return;
    }
    void* module = ::dlopen(HERONAU_PROBE_DIR "/HeronAUProbe.so", RTLD_NOW | RTLD_NOLOAD);
    if (!module) {
        error_ = "the probe driver is not loaded";
        return;
    }
    auto driverObject = reinterpret_cast<PDRIVER_OBJECT (*)()>(::dlsym(module, "HeronProbeDriverObject"));
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

NTSTATUS ProbeMachine::open(uint64_t* handle) {
    return kernel_->createFile(process_, "\\\\.\\HeronAudioCap0", handle);
}

NTSTATUS ProbeMachine::control(uint64_t handle, uint32_t code, const void* input, uint32_t inputLength,
                               void* output, uint32_t outputLength, uint32_t* information) {
    uint32_t ignored = 0;
    return kernel_->deviceIoControl(process_, handle, code, input, inputLength, output, outputLength,
                                    information ? information : &ignored);
}

NTSTATUS ProbeMachine::sendAndWait(PIRP irp) {
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IO_STATUS_BLOCK result{};
    irp->UserEvent = &done;
    irp->UserIosb = &result;
    IofCallDriver(fdo_, irp);
    LARGE_INTEGER timeout;
    timeout.QuadPart = -20LL * 10 * 1000 * 1000;
    if (KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, &timeout) != STATUS_SUCCESS) {
        return STATUS_TIMEOUT;  // the IRP is left to leak rather than freed under the driver
    }
    IoFreeIrp(irp);
    return result.Status;
}

NTSTATUS ProbeMachine::sendPnp(UCHAR minor, PCM_RESOURCE_LIST translated) {
    PIRP irp = IoAllocateIrp(fdo_->StackSize, FALSE);
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
    stack->MajorFunction = IRP_MJ_PNP;
    stack->MinorFunction = minor;
    if (minor == IRP_MN_START_DEVICE) {
        stack->Parameters.StartDevice.AllocatedResources = translated;
        stack->Parameters.StartDevice.AllocatedResourcesTranslated = translated;
    }
    return sendAndWait(irp);
}

NTSTATUS ProbeMachine::sendIrp(UCHAR major) {
    PIRP irp = IoAllocateIrp(fdo_->StackSize, FALSE);
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
    stack->MajorFunction = major;
    if (major == IRP_MJ_POWER) {
        stack->MinorFunction = IRP_MN_SET_POWER;
        stack->Parameters.Power.Type = DevicePowerState;
        stack->Parameters.Power.State.DeviceState = PowerDeviceD0;
    }
    return sendAndWait(irp);
}

NTSTATUS ProbeMachine::sendTransfer(UCHAR major, LONGLONG byteOffset) {
    PIRP irp = IoAllocateIrp(fdo_->StackSize, FALSE);
    char buffer[8] = {};
    irp->AssociatedIrp.SystemBuffer = buffer;
    irp->Flags |= IRP_BUFFERED_IO;
    PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
    stack->MajorFunction = major;
    stack->Parameters.Read.Length = sizeof buffer;
    stack->Parameters.Read.ByteOffset.QuadPart = byteOffset;
    return sendAndWait(irp);
}

NTSTATUS ProbeMachine::sendFileRequest(PFILE_OBJECT file, UCHAR major, uint32_t code) {
    PIRP irp = IoAllocateIrp(fdo_->StackSize, FALSE);
    irp->Tail.Overlay.OriginalFileObject = file;
    PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
    stack->MajorFunction = major;
    stack->FileObject = file;
    stack->Parameters.DeviceIoControl.IoControlCode = code;
    return sendAndWait(irp);
}

}  // namespace heronau_test
