// An in-process machine for the driver's state tests: the kernel runtime
// booted in the test itself, the driver's code loaded under a probe service
// that claims an audio function before the real driver could, and direct
// access to the driver's device object and state.
#pragma once

#include <ntddk.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio_state.h"
#include "lxmachine/hw/heron/heron_audio.h"
#include "nt/kernel_host.h"
#include "probe_kernel.h"

namespace heronau_test {

using ntprobe::ResourceList;

class TestProcess final : public nt::UserProcess {
public:
    uint32_t processId() const override { return 4242; }
    uint64_t mapPhysical(uint64_t, uint64_t) override { return 0; }
    bool unmapView(uint64_t) override { return false; }
    uint64_t physicalAddressOf(uint64_t) const override { return 0; }
};

class ProbeMachine {
public:
    ProbeMachine();
    bool ready() const { return probe_.ready(); }
    const std::string& error() const { return probe_.error(); }

    nt::Kernel& kernel() { return probe_.kernel(); }
    lxhw::heron::HeronAudio& audio() { return *audio_; }
    TestProcess& process() { return process_; }
    PDEVICE_OBJECT fdo() const { return probe_.fdo(); }
    AudioDeviceState* state() const { return audioState(probe_.fdo()); }
    uint32_t slot() const { return probe_.device(); }
    uint64_t windowBase() const { return audio_->barAddress(0); }
    ULONG vector() const { return 0x30 + audio_->interruptLine(); }

    NTSTATUS open(uint64_t* handle);
    NTSTATUS control(uint64_t handle, uint32_t code, const void* input, uint32_t inputLength, void* output,
                     uint32_t outputLength, uint32_t* information = nullptr);
    // Sent straight to the driver, waited for (bounded).
    NTSTATUS sendPnp(UCHAR minor, PCM_RESOURCE_LIST translated = nullptr);
    NTSTATUS sendIrp(UCHAR major);
    NTSTATUS sendTransfer(UCHAR major, LONGLONG byteOffset);
    // A request of `file` (cleanup, or a wait on a timer-free device that
    // must be answered at once), bounded like the others.
    NTSTATUS sendFileRequest(PFILE_OBJECT file, UCHAR major, uint32_t code = 0);

private:
    std::shared_ptr<lxhw::heron::HeronAudio> audio_ =
        std::make_shared<lxhw::heron::HeronAudio>(lxhw::heron::HeronAudioSetup{});
    TestProcess process_;
    ntprobe::ProbeKernel probe_;  // after the function it plugs
};

// Polls for up to five seconds.
template <typename Condition>
bool eventually(Condition condition) {
    for (int i = 0; i < 5000; ++i) {
        if (condition()) return true;
        KeStallExecutionProcessor(1000);
    }
    return condition();
}

}  // namespace heronau_test
