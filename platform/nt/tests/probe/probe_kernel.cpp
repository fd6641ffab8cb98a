#include "probe_kernel.h"

#include <dlfcn.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>

namespace ntprobe {
namespace {

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

ProbeKernel::ProbeKernel(const ProbeSetup& setup, std::shared_ptr<lxhw::PciFunction> function) {
    std::string pattern = (std::filesystem::temp_directory_path() / (setup.name + "-XXXXXX")).string();
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
    options.driverDirectory = setup.driverDirectory;
    options.log = [](const std::string&) {};
    kernel_ = nt::Kernel::boot(options, &error_);
    if (!kernel_) return;
    const std::string service = "SYSTEM\\CurrentControlSet\\Services\\" + setup.service;
    kernel_->registryCreateKey(service);
    kernel_->registrySet(service, "Type", kRegDword, dword(1));
    kernel_->registrySet(service, "Start", kRegDword, dword(3));
    kernel_->registrySet(service, "ImagePath", kRegSz, utf16(setup.image, false));
    kernel_->registrySet(service, "HardwareIds", kRegMultiSz, utf16(setup.hardwareId, true));
    if (!kernel_->plugFunction(std::move(function), 0, setup.firstDevice, &device_)) {
        error_ = "the function found no slot";
        return;
    }
    const std::string path = setup.driverDirectory + "/" + setup.image;
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!module) {
        error_ = "the probe driver is not loaded";
        return;
    }
    auto driverObject =
        reinterpret_cast<PDRIVER_OBJECT (*)()>(::dlsym(module, setup.driverObjectSymbol.c_str()));
    PDRIVER_OBJECT driver = driverObject ? driverObject() : nullptr;
    ::dlclose(module);
    if (!driver || !driver->DeviceObject) {
        error_ = "the probe driver has no device";
        return;
    }
    fdo_ = driver->DeviceObject;
}

ProbeKernel::~ProbeKernel() {
    if (kernel_) kernel_->shutdown();
    kernel_.reset();
    if (!directory_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(directory_, ignored);
    }
}

NTSTATUS ProbeKernel::sendAndWait(PIRP irp) {
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IO_STATUS_BLOCK result{};
    irp->UserEvent = &done;
    irp->UserIosb = &result;
    IofCallDriver(fdo_, irp);
    LARGE_INTEGER timeout;
    timeout.QuadPart = -20LL * 10 * 1000 * 1000;
    if (KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, &timeout) != STATUS_SUCCESS) {
        return STATUS_TIMEOUT;
    }
    IoFreeIrp(irp);
    return result.Status;
}

}  // namespace ntprobe
