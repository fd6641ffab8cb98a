// Feeds arbitrary control requests to the static-memory driver, as a hostile
// client would send them: any code and length, windows and fills anywhere,
// dynamic blocks of any size, and unlock and free records that are forged,
// repeated, or taken from earlier answers (so the real release paths run).
// The driver runs in a machine booted once in this process; each input is
// a new process that ends holding what it did not give back, so the exit
// routine releases it. After each input the machine's free contiguous
// memory must be what it was before.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "lx/hmb_control_codes.h"
#include "lx/static_mem_records.h"
#include "nt/kernel_host.h"
#include <lx/internal/fuzz_input.h>
#include <lx/internal/fuzz_scratch.h>

namespace {

// Views are bookkeeping only: user addresses are numbers the driver hands
// back, never touched in this process.
class FuzzProcess final : public nt::UserProcess {
public:
    explicit FuzzProcess(uint32_t id) : id_(id) {}
    uint32_t processId() const override { return id_; }
    uint64_t mapPhysical(uint64_t physical, uint64_t length) override {
        if (length == 0 || length > (uint64_t{1} << 32)) return 0;
        const uint64_t user = next_;
        next_ += (length + 0xFFFF) & ~uint64_t{0xFFFF};
        views_[user] = {physical, length};
        return user;
    }
    bool unmapView(uint64_t userAddress) override { return views_.erase(userAddress) == 1; }
    uint64_t physicalAddressOf(uint64_t userAddress) const override {
        auto it = views_.upper_bound(userAddress);
        if (it == views_.begin()) return 0;
        --it;
        const uint64_t into = userAddress - it->first;
        return into < it->second.length ? it->second.physical + into : 0;
    }

private:
    struct View {
        uint64_t physical;
        uint64_t length;
    };
    uint32_t id_;
    uint64_t next_ = 0x100000000000;
    std::map<uint64_t, View> views_;
};

struct Machine {
    std::unique_ptr<nt::Kernel> kernel;
    uint32_t nextProcess = 7000;
};

Machine* machine() {
    static Machine* booted = [] {
        auto* m = new Machine;
        nt::BootOptions options;
        options.config.ramMb = 64;
        options.config.terncards.clear();
        options.registryFile = lx::fuzz::scratchDirectory("hmbserv-fuzz") + "/registry";
        options.driverDirectory = HMBSERV_DRIVER_DIR;
        options.log = [](const std::string&) {};
        std::string error;
        m->kernel = nt::Kernel::boot(options, &error);
        if (!m->kernel) {
            std::fprintf(stderr, "static-memory fuzz: the machine does not boot: %s\n", error.c_str());
            std::abort();
        }
        return m;
    }();
    return booted;
}

constexpr uint32_t kCodes[] = {IOCTL_HMB_STATIC_LOCK,     IOCTL_HMB_STATIC_UNLOCK,         IOCTL_HMB_DYNAMIC_ALLOC,
                               IOCTL_HMB_DYNAMIC_FREE,    IOCTL_HMB_PHYSICAL_ADDRESS,      IOCTL_HMB_FIND_DISPLAY_ADAPTER,
                               IOCTL_HMB_STATIC_BASE,     IOCTL_HMB_STATIC_FILL};
// The exact length of each code's input and output.
constexpr uint32_t kInputLengths[] = {40, 40, 4, 32, 8, 0, 0, 12};
constexpr uint32_t kOutputLengths[] = {40, 0, 32, 0, 4, 8, 4, 0};

uint64_t freeContiguousBytes(const nt::Kernel& kernel) {
    const std::string json = kernel.statusJson();
    const std::string key = "\"contiguousFreeBytes\":";
    const size_t at = json.find(key);
    return at == std::string::npos ? 0 : std::strtoull(json.c_str() + at + key.size(), nullptr, 10);
}

}  // namespace

using lx::fuzz::Input;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Machine* m = machine();
    const uint64_t freeBefore = freeContiguousBytes(*m->kernel);
    Input input(data, size);
    FuzzProcess process(m->nextProcess++);
    uint64_t handle = 0;
    if (m->kernel->createFile(process, "\\\\.\\HMBSERV", &handle) != 0) std::abort();

    // Answers of earlier locks and allocations, to give back (or give back twice).
    std::vector<StaticMemBlock> windows;
    std::vector<DynamicMemBlock> blocks;
    while (!input.empty()) {
        const uint8_t selector = input.byte();
        const size_t index = selector % std::size(kCodes);
        const uint32_t code = selector < 0xF0 ? kCodes[index] : input.word();
        // Mostly the exact lengths; sometimes any length up to 63.
        const uint8_t lengths = input.byte();
        uint32_t inputLength = selector < 0xF0 ? kInputLengths[index] : 0;
        uint32_t outputLength = selector < 0xF0 ? kOutputLengths[index] : 0;
        if (lengths & 0x80) {
            inputLength = lengths & 0x3F;
            outputLength = input.byte() & 0x3F;
        }
        std::vector<uint8_t> in = input.bytes(inputLength);
        // Give back an earlier answer instead of the bytes read.
        if ((lengths & 0x40) && code == IOCTL_HMB_STATIC_UNLOCK && inputLength == 40 && !windows.empty())
            std::memcpy(in.data(), &windows[in[0] % windows.size()], 40);
        if ((lengths & 0x40) && code == IOCTL_HMB_DYNAMIC_FREE && inputLength == 32 && !blocks.empty())
            std::memcpy(in.data(), &blocks[in[0] % blocks.size()], 32);
        if (code == IOCTL_HMB_DYNAMIC_ALLOC && inputLength == 4) {
            // Sizes mostly a few pages, so allocations succeed.
            uint32_t bytes;
            std::memcpy(&bytes, in.data(), 4);
            if ((bytes >> 28) != 0xF) bytes &= 0x3FFFF;
            std::memcpy(in.data(), &bytes, 4);
        }
        std::vector<uint8_t> out(outputLength, 0xCD);
        uint32_t information = 0;
        const int32_t status =
            m->kernel->deviceIoControl(process, handle, code, in.empty() ? nullptr : in.data(), inputLength,
                                       out.empty() ? nullptr : out.data(), outputLength, &information);
        if (information > outputLength) std::abort();  // more than the caller's buffer
        if (status == 0 && code == IOCTL_HMB_STATIC_LOCK && outputLength == 40) {
            StaticMemBlock window;
            std::memcpy(&window, out.data(), sizeof window);
            windows.push_back(window);
        }
        if (status == 0 && code == IOCTL_HMB_DYNAMIC_ALLOC && outputLength == 32) {
            DynamicMemBlock block;
            std::memcpy(&block, out.data(), sizeof block);
            blocks.push_back(block);
        }
    }
    // Ends holding what it kept: the exit routine gives every block back.
    m->kernel->processExited(process);
    if (freeContiguousBytes(*m->kernel) != freeBefore) {
        std::fprintf(stderr, "static-memory fuzz: contiguous memory lost at a process's end\n");
        std::abort();
    }
    return 0;
}
