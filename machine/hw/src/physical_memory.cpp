#include "lxmachine/hw/physical_memory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace lxhw {
namespace {

bool makeRange(const char* name, uint64_t base, uint64_t size, MemoryRange* range, std::string* error) {
    int fd = memfd_create(name, MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0) {
        *error = std::string("memfd_create ") + name + ": " + std::strerror(errno);
        return false;
    }
    if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
        *error = std::string("cannot size ") + name + ": " + std::strerror(errno);
        close(fd);
        return false;
    }
    // Every process gets this descriptor: sealed, nobody can resize the
    // memory under the machine's mapping (a shrink would fault its next DMA),
    // nor add seals that would refuse other processes' writable views.
    if (fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0) {
        *error = std::string("cannot seal ") + name + ": " + std::strerror(errno);
        close(fd);
        return false;
    }
    // The machine's own view of its memory lies far from where processes get
    // their mappings, so a kernel address never equals a user address.
    // (ThreadSanitizer keeps its shadow memory there and stops the program
    // at such a mapping: its builds take any address.)
#if defined(__SANITIZE_THREAD__)
    void* host = MAP_FAILED;
#else
    static std::atomic<uintptr_t> nextHint{0x200000000000};
    void* hint = reinterpret_cast<void*>(nextHint.fetch_add((size + 0xFFFFFFF) & ~uintptr_t{0xFFFFFFF}));
    void* host = mmap(hint, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_NORESERVE | MAP_FIXED_NOREPLACE, fd, 0);
#endif
    if (host == MAP_FAILED) host = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_NORESERVE, fd, 0);
    if (host == MAP_FAILED) {
        *error = std::string("cannot map ") + name + ": " + std::strerror(errno);
        close(fd);
        return false;
    }
    *range = MemoryRange{name, fd, base, size, static_cast<uint8_t*>(host)};
    return true;
}

void releaseRange(MemoryRange& range) {
    if (range.host) munmap(range.host, range.size);
    if (range.fd >= 0) close(range.fd);
    range.host = nullptr;
    range.fd = -1;
}

bool contains(const MemoryRange& range, uint64_t physical, uint64_t length) {
    return range.host && physical >= range.physicalBase && length <= range.size &&
           physical - range.physicalBase <= range.size - length;
}

}  // namespace

std::unique_ptr<PhysicalMemory> PhysicalMemory::create(uint64_t ramBytes, uint64_t vramBase, uint64_t vramBytes,
                                                       std::string* error) {
    constexpr uint64_t page = ContiguousAllocator::kPageSize;
    if (ramBytes < 16 * 1024 * 1024 || ramBytes % page != 0) {
        *error = "RAM must be a whole number of pages and at least 16 MiB";
        return nullptr;
    }
    if (vramBytes == 0 || vramBytes % page != 0 || vramBase % page != 0 || vramBase < ramBytes ||
        vramBase + vramBytes > (uint64_t{1} << 32)) {
        *error = "VRAM must be page aligned, above RAM and below 4 GiB";
        return nullptr;
    }
    MemoryRange ram, vram;
    if (!makeRange("RAM", 0, ramBytes, &ram, error)) return nullptr;
    if (!makeRange("VRAM", vramBase, vramBytes, &vram, error)) {
        releaseRange(ram);
        return nullptr;
    }
    return std::unique_ptr<PhysicalMemory>(new PhysicalMemory(ram, vram));
}

PhysicalMemory::PhysicalMemory(MemoryRange ram, MemoryRange vram)
    : ram_(std::move(ram)), vram_(std::move(vram)),
      allocator_(kReservedLowMemory, ram_.size - kReservedLowMemory) {}

PhysicalMemory::~PhysicalMemory() {
    releaseRange(ram_);
    releaseRange(vram_);
}

uint8_t* PhysicalMemory::hostAddress(uint64_t physical, uint64_t length) const {
    for (const MemoryRange* range : {&ram_, &vram_}) {
        if (contains(*range, physical, length)) return range->host + (physical - range->physicalBase);
    }
    return nullptr;
}

std::optional<uint64_t> PhysicalMemory::physicalAddressOf(const void* host) const {
    auto address = reinterpret_cast<uintptr_t>(host);
    for (const MemoryRange* range : {&ram_, &vram_}) {
        auto begin = reinterpret_cast<uintptr_t>(range->host);
        if (range->host && address >= begin && address - begin < range->size)
            return range->physicalBase + (address - begin);
    }
    return std::nullopt;
}

std::optional<uint64_t> PhysicalMemory::allocateContiguous(uint64_t bytes, uint64_t highestAcceptable,
                                                           uint64_t alignment) {
    return allocator_.allocate(bytes, highestAcceptable, alignment);
}

bool PhysicalMemory::freeContiguous(uint64_t physical) {
    const uint64_t size = allocator_.blockSize(physical);
    if (size == 0) return false;
    // Give the pages back so a long-running machine stays sparse.
    fallocate(ram_.fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(physical),
              static_cast<off_t>(size));
    return allocator_.free(physical);
}

}  // namespace lxhw
