// What a driver's in-process state tests boot: the kernel runtime in the
// test itself (a temporary directory, the verifier on), the driver's code
// under a probe service that claims one PCI function before the real driver
// could, and the probe's driver object, reached through a symbol the probe
// module exports.
#pragma once

#include <ntddk.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "lxmachine/hw/pci_function.h"
#include "nt/kernel_host.h"

namespace ntprobe {

// A translated resource list as the PnP manager hands it to start.
class ResourceList {
public:
    ResourceList& memory(uint64_t start, ULONG length);
    // ioSpace false: a port range the bus placed in memory space.
    ResourceList& port(uint64_t start, ULONG length, bool ioSpace = true);
    ResourceList& interrupt(ULONG vector, ULONG level, USHORT flags);
    PCM_RESOURCE_LIST get();

private:
    std::vector<CM_PARTIAL_RESOURCE_DESCRIPTOR> partials_;
    std::vector<uint8_t> bytes_;
};

struct ProbeSetup {
    std::string name;             // the temporary directory's prefix
    std::string driverDirectory;  // where the probe module was built
    std::string service;          // the probe's service key, below Services
    std::string image;            // the probe module's file name
    std::string hardwareId;       // the most specific identifier of the function
    std::string driverObjectSymbol;
    uint32_t firstDevice = 0;  // the first slot the function may take on bus 0
};

class ProbeKernel {
public:
    ProbeKernel(const ProbeSetup& setup, std::shared_ptr<lxhw::PciFunction> function);
    ~ProbeKernel();
    ProbeKernel(const ProbeKernel&) = delete;
    ProbeKernel& operator=(const ProbeKernel&) = delete;

    bool ready() const { return fdo_ != nullptr; }
    const std::string& error() const { return error_; }
    nt::Kernel& kernel() { return *kernel_; }
    PDEVICE_OBJECT fdo() const { return fdo_; }
    uint32_t device() const { return device_; }

    // An IRP with a stack location for each of the device's layers.
    PIRP allocateIrp() const { return IoAllocateIrp(fdo_->StackSize, FALSE); }
    // Sends the IRP straight to the driver and waits up to 20 s for its
    // completion; a request still pending then is left to leak rather than
    // freed under the driver (STATUS_TIMEOUT).
    NTSTATUS sendAndWait(PIRP irp);

private:
    std::string directory_;
    std::string error_;
    std::unique_ptr<nt::Kernel> kernel_;
    uint32_t device_ = 0;
    PDEVICE_OBJECT fdo_ = nullptr;
};

}  // namespace ntprobe
