// An in-process machine for the driver's state tests: the kernel runtime
// booted in the test itself, the driver's code loaded under a probe service
// for a stand-in card, and direct access to the driver's device object.
#pragma once

#include <ntddk.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "extension.h"
#include "gate_function.h"
#include "nt/kernel_host.h"

namespace terncardvi_test {

class TestProcess final : public nt::UserProcess {
public:
    explicit TestProcess(uint32_t pid) : pid_(pid) {}
    uint32_t processId() const override { return pid_; }
    uint64_t mapPhysical(uint64_t, uint64_t) override { return 0; }
    bool unmapView(uint64_t) override { return false; }
    uint64_t physicalAddressOf(uint64_t) const override { return 0; }

private:
    uint32_t pid_;
};

// A translated resource list as the PnP manager hands it to start.
class ResourceList {
public:
    ResourceList& memory(uint64_t start, ULONG length);
    ResourceList& port(uint64_t start, ULONG length, bool ioSpace);
    ResourceList& interrupt(ULONG vector, ULONG level, USHORT flags);
    PCM_RESOURCE_LIST get();

private:
    std::vector<CM_PARTIAL_RESOURCE_DESCRIPTOR> partials_;
    std::vector<uint8_t> bytes_;
};

class ProbeMachine {
public:
    ProbeMachine();
    ~ProbeMachine();
    bool ready() const { return fdo_ != nullptr; }
    const std::string& error() const { return error_; }

    nt::Kernel& kernel() { return *kernel_; }
    GateFunction& card() { return *card_; }
    PDEVICE_OBJECT fdo() const { return fdo_; }
    TernCardVIExtension* extension() const { return cardExtension(fdo_); }
    uint32_t cardDevice() const { return device_; }
    uint64_t registerBase() const { return card_->barAddress(GateFunction::kRegisterBar); }
    uint64_t portBase() const { return card_->barAddress(GateFunction::kPortBar); }

    NTSTATUS open(TestProcess& process, uint64_t* handle);
    NTSTATUS regRequest(TestProcess& process, uint64_t handle, uint32_t operation, uint32_t offset, uint32_t value,
                        uint32_t* output, uint32_t* information = nullptr);
    NTSTATUS sendPnp(UCHAR minor, PCM_RESOURCE_LIST translated = nullptr);
    NTSTATUS sendIrp(UCHAR major, UCHAR minor);
    // A register read sent straight to the driver on behalf of `file`, as a
    // second handle's request would arrive; waits for its completion.
    NTSTATUS sendRegisterRead(PFILE_OBJECT file, uint32_t offset, uint32_t* value);
    // Requests in the device queue behind the one in start-I/O.
    int queuedRequests() const;

private:
    std::string directory_;
    std::string error_;
    std::unique_ptr<nt::Kernel> kernel_;
    std::shared_ptr<GateFunction> card_;
    uint32_t device_ = 0;
    PDEVICE_OBJECT fdo_ = nullptr;
    std::mutex logMutex_;
    std::vector<std::string> log_;
};

// Polls for up to five seconds.
bool eventually(const std::function<bool()>& condition);

}  // namespace terncardvi_test
