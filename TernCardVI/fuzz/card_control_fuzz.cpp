// Feeds arbitrary control requests to the card driver, as a hostile client
// would send them on its open handle of the card: any code, any input and
// output length, register requests with any operation, offset and value
// (starting the DMA engine from wherever they point it among them). The
// driver runs in a machine booted once in this process with one card; each
// input is a new process that opens the card, sends its requests, and ends
// with the handle still open, so the owner's clean-up runs on every path.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "lx/internal/terncard_ioctl.h"
#include "nt/kernel_host.h"
#include <lx/internal/fuzz_input.h>
#include <lx/internal/fuzz_scratch.h>

namespace {

// Maps nothing: the card driver maps nothing into processes.
class FuzzProcess final : public nt::UserProcess {
public:
    explicit FuzzProcess(uint32_t id) : id_(id) {}
    uint32_t processId() const override { return id_; }
    uint64_t mapPhysical(uint64_t, uint64_t) override { return 0; }
    bool unmapView(uint64_t) override { return false; }
    uint64_t physicalAddressOf(uint64_t) const override { return 0; }

private:
    uint32_t id_;
};

struct Machine {
    std::unique_ptr<nt::Kernel> kernel;
    std::string cardPath;
    uint32_t nextProcess = 5000;
};

Machine* machine() {
    static Machine* booted = [] {
        auto* m = new Machine;
        nt::BootOptions options;
        options.config.ramMb = 64;
        // No picture: the engine runs its programs without rendering fields.
        options.config.terncards.assign(1, lxm::TernCardConfig{});
        options.config.terncards[0].sources = {"none", "none", "none", "none"};
        options.registryFile = lx::fuzz::scratchDirectory("terncardvi-fuzz") + "/registry";
        options.driverDirectory = TERNCARDVI_DRIVER_DIR;
        options.log = [](const std::string&) {};
        std::string error;
        m->kernel = nt::Kernel::boot(options, &error);
        if (!m->kernel) {
            std::fprintf(stderr, "card fuzz: the machine does not boot: %s\n", error.c_str());
            std::abort();
        }
        const std::vector<std::string> paths = m->kernel->interfacePaths(nt::Guid TERNCARD_INTERFACE_GUID_INIT);
        if (paths.empty()) {
            std::fprintf(stderr, "card fuzz: the card has no interface\n");
            std::abort();
        }
        m->cardPath = paths.front();
        return m;
    }();
    return booted;
}

constexpr uint32_t kCodes[] = {IOCTL_TERN_REG_ACCESS, IOCTL_TERN_SLOT_INFO, IOCTL_TERN_QUERY_WORD,
                               IOCTL_TERN_NO_DATA_A,  IOCTL_TERN_NO_DATA_B, IOCTL_TERN_NO_DATA_C,
                               IOCTL_TERN_NO_DATA_D};

}  // namespace

using lx::fuzz::Input;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Machine* m = machine();
    Input input(data, size);
    FuzzProcess process(m->nextProcess++);
    uint64_t handle = 0;
    // The previous input's process has let the card go: the open must succeed.
    if (m->kernel->createFile(process, m->cardPath, &handle) != 0) std::abort();

    while (!input.empty()) {
        const uint8_t selector = input.byte();
        const uint32_t code = selector < 0xF0 ? kCodes[selector % std::size(kCodes)] : input.word();
        // Lengths from 0 to 15, or 12 and 16 around the register request.
        const uint8_t lengths = input.byte();
        uint32_t inputLength = lengths & 0x0F;
        if (lengths & 0x10) inputLength = lengths & 0x20 ? 16 : 12;
        const uint32_t outputLength = (lengths >> 6) * 4 + (input.byte() & 0x0F);
        std::vector<uint8_t> in = input.bytes(inputLength);
        if (code == IOCTL_TERN_REG_ACCESS && inputLength >= 8) {
            // Keep offsets mostly inside and around the window so accesses happen.
            uint32_t offset;
            std::memcpy(&offset, in.data() + 4, 4);
            if ((offset >> 24) != 0xFF) offset &= 0x1FFF;
            std::memcpy(in.data() + 4, &offset, 4);
        }
        std::vector<uint8_t> out(outputLength, 0xCD);
        uint32_t information = 0;
        m->kernel->deviceIoControl(process, handle, code, in.empty() ? nullptr : in.data(), inputLength,
                                   out.empty() ? nullptr : out.data(), outputLength, &information);
        if (information > outputLength) std::abort();  // more than the caller's buffer
    }
    // Ends with its handle open: the exit closes it through the clean-up.
    m->kernel->processExited(process);
    return 0;
}
