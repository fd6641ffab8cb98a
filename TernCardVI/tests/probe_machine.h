// An in-process machine for the driver's state tests: the kernel runtime
// booted in the test itself, the driver's code loaded under a probe service
// for a stand-in card, and direct access to the driver's device object.
#pragma once

#include <ntddk.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "extension.h"
#include "gate_function.h"
#include "nt/kernel_host.h"
#include "probe_kernel.h"

namespace terncardvi_test {

using ntprobe::ResourceList;

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

class ProbeMachine {
public:
    ProbeMachine();
    bool ready() const { return probe_.ready(); }
    const std::string& error() const { return probe_.error(); }

    nt::Kernel& kernel() { return probe_.kernel(); }
    GateFunction& card() { return *card_; }
    PDEVICE_OBJECT fdo() const { return probe_.fdo(); }
    TernCardVIExtension* extension() const { return cardExtension(probe_.fdo()); }
    uint32_t cardDevice() const { return probe_.device(); }
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
    std::shared_ptr<GateFunction> card_ = std::make_shared<GateFunction>();
    ntprobe::ProbeKernel probe_;  // after the card it plugs
};

// Polls for up to five seconds.
bool eventually(const std::function<bool()>& condition);

}  // namespace terncardvi_test
