// The machine's physical address space that is memory: RAM from physical 0
// and the display adapter's VRAM at its BAR address, each a sparse memfd
// mapped once into the machine so the kernel can reach it by host address.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "lxmachine/hw/contiguous_allocator.h"

namespace lxhw {

struct MemoryRange {
    std::string name;  // "RAM" or "VRAM"
    int fd = -1;
    uint64_t physicalBase = 0;
    uint64_t size = 0;
    uint8_t* host = nullptr;
};

class PhysicalMemory {
public:
    // The first MiB of RAM is never handed out, so no block lies at physical 0.
    static constexpr uint64_t kReservedLowMemory = 0x100000;

    static std::unique_ptr<PhysicalMemory> create(uint64_t ramBytes, uint64_t vramBase, uint64_t vramBytes,
                                                  std::string* error);
    ~PhysicalMemory();
    PhysicalMemory(const PhysicalMemory&) = delete;
    PhysicalMemory& operator=(const PhysicalMemory&) = delete;

    const MemoryRange& ram() const { return ram_; }
    const MemoryRange& vram() const { return vram_; }
    std::vector<MemoryRange> ranges() const { return {ram_, vram_}; }

    // Host address of [physical, physical + length), null unless it lies in one range.
    uint8_t* hostAddress(uint64_t physical, uint64_t length = 1) const;
    // Physical address behind a host address inside one of the ranges.
    std::optional<uint64_t> physicalAddressOf(const void* host) const;

    // Contiguous blocks of RAM for drivers; freed pages are returned to the
    // host (and read as zero afterwards).
    std::optional<uint64_t> allocateContiguous(uint64_t bytes, uint64_t highestAcceptable,
                                               uint64_t alignment = ContiguousAllocator::kPageSize);
    bool freeContiguous(uint64_t physical);
    const ContiguousAllocator& allocator() const { return allocator_; }

private:
    PhysicalMemory(MemoryRange ram, MemoryRange vram);
    MemoryRange ram_;
    MemoryRange vram_;
    ContiguousAllocator allocator_;
};

}  // namespace lxhw
