// Feeds arbitrary control requests to the audio driver, as a hostile client
// would send them on an open handle: any code, any input and output length,
// any register offset and value, wait requests among them. The driver runs
// in a machine booted once in this process with one audio function in
// memory space and one in I/O port space. Every input ends by closing its
// handle, which must complete every wait it left.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "lx/internal/heron_audio_ioctl.h"
#include "nt/kernel_host.h"
#include <lx/internal/fuzz_input.h>
#include <lx/internal/fuzz_scratch.h>

namespace {

// Maps nothing: the audio driver maps nothing into processes.
class FuzzProcess final : public nt::UserProcess {
public:
    uint32_t processId() const override { return 4242; }
    uint64_t mapPhysical(uint64_t, uint64_t) override { return 0; }
    bool unmapView(uint64_t) override { return false; }
    uint64_t physicalAddressOf(uint64_t) const override { return 0; }
};

struct Machine {
    std::unique_ptr<nt::Kernel> kernel;
    FuzzProcess process;
};

Machine* machine() {
    static Machine* booted = [] {
        auto* m = new Machine;
        nt::BootOptions options;
        options.config.ramMb = 32;
        options.config.terncards.clear();
        options.config.heronAudio.push_back(lxm::HeronAudioConfig{2000.0, false});
        options.config.heronAudio.push_back(lxm::HeronAudioConfig{2000.0, true});
        options.registryFile = lx::fuzz::scratchDirectory("heronau-fuzz") + "/registry";
        options.driverDirectory = HERONAU_DRIVER_DIR;
        options.log = [](const std::string&) {};
        std::string error;
        m->kernel = nt::Kernel::boot(options, &error);
        if (!m->kernel) {
            std::fprintf(stderr, "audio fuzz: the machine does not boot: %s\n", error.c_str());
            std::abort();
        }
        return m;
    }();
    return booted;
}

constexpr uint32_t kCodes[] = {IOCTL_AUDIO_REGISTER_IO,         IOCTL_AUDIO_CONTROL_SET,
                               IOCTL_AUDIO_CONTROL_CLEAR,       IOCTL_AUDIO_GET_INTERRUPT_COUNT,
                               IOCTL_AUDIO_SET_CONFIG,          IOCTL_AUDIO_WAIT_EVENT,
                               IOCTL_AUDIO_GET_DEVICE_COUNT};
constexpr size_t kMaxWaits = 4;

}  // namespace

using lx::fuzz::Input;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Machine* m = machine();
    Input input(data, size);
    const std::string path = input.byte() & 1 ? "\\\\.\\HeronAudioCap1" : "\\\\.\\HeronAudioCap0";
    uint64_t handle = 0;
    if (m->kernel->createFile(m->process, path, &handle) != 0) std::abort();

    std::vector<std::thread> waits;
    while (!input.empty()) {
        const uint8_t selector = input.byte();
        const uint32_t code = selector < 0xF0 ? kCodes[selector % std::size(kCodes)] : input.word();
        if (code == IOCTL_AUDIO_WAIT_EVENT) {
            // A wait blocks its thread until an interrupt, a cancel or the close.
            if (waits.size() == kMaxWaits) continue;
            waits.emplace_back([m, handle] {
                uint32_t information = 0;
                m->kernel->deviceIoControl(m->process, handle, IOCTL_AUDIO_WAIT_EVENT, nullptr, 0, nullptr, 0,
                                           &information);
            });
            continue;
        }
        // Lengths from 0 to 15, or 32 and 40 around the configuration record.
        const uint8_t lengths = input.byte();
        uint32_t inputLength = lengths & 0x0F;
        if (lengths & 0x10) inputLength = lengths & 0x20 ? 40 : 32;
        const uint32_t outputLength = (lengths >> 6) * 4 + (input.byte() & 0x0F);
        std::vector<uint8_t> in = input.bytes(inputLength);
        if (code == IOCTL_AUDIO_REGISTER_IO && inputLength >= 8) {
            // Keep offsets mostly inside and around the windows so accesses happen.
            uint32_t offset;
            std::memcpy(&offset, in.data() + 4, 4);
            if ((offset >> 24) != 0xFF) offset &= 0x13FF;
            std::memcpy(in.data() + 4, &offset, 4);
        }
        std::vector<uint8_t> out(outputLength, 0xCD);
        uint32_t information = 0;
        m->kernel->deviceIoControl(m->process, handle, code, in.empty() ? nullptr : in.data(), inputLength,
                                   out.empty() ? nullptr : out.data(), outputLength, &information);
        if (information > outputLength) std::abort();  // more than the caller's buffer
    }
    m->kernel->deviceIoControl(m->process, handle, IOCTL_AUDIO_CONTROL_CLEAR, nullptr, 0, nullptr, 0, nullptr);
    // Closing completes every wait: the joins below return.
    m->kernel->closeFile(m->process, handle);
    for (std::thread& wait : waits) wait.join();
    return 0;
}
