// The kernel's bookkeeping of memory handed to drivers: pool blocks,
// contiguous blocks (and which process's request allocated them) and the
// user-mode views made from MDLs.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

namespace lxhw {
class PhysicalMemory;
}

namespace nt {

class MemoryManager {
public:
    struct ContiguousBlock {
        uint64_t physical;
        uint64_t size;
        uint32_t processId;  // 0: allocated outside any process request
    };
    struct UserView {
        uint32_t processId;
        uint64_t userAddress;  // as returned to the driver (with the byte offset)
        uint64_t viewAddress;  // page-aligned start of the process's view
        uint64_t physical;
        uint64_t size;
        const void* mdl;
    };

    // perProcessContiguous: contiguous bytes the requests of one process may
    // hold at once (0: no cap); past it an allocation fails as if memory ran out.
    explicit MemoryManager(lxhw::PhysicalMemory& memory, uint64_t perProcessContiguous = 0);

    void* allocatePool(size_t bytes);
    bool freePool(void* block);
    bool isPool(const void* address) const;
    size_t poolBlocks() const;

    void* allocateContiguous(uint64_t bytes, uint64_t highestAcceptable, uint32_t processId);
    bool freeContiguous(void* host);
    std::vector<ContiguousBlock> contiguousBlocks() const;

    void addUserView(const UserView& view);
    std::optional<UserView> takeUserView(uint32_t processId, uint64_t userAddress);
    std::vector<UserView> userViews() const;
    void forgetProcess(uint32_t processId);

    lxhw::PhysicalMemory& physical() { return memory_; }

private:
    lxhw::PhysicalMemory& memory_;
    const uint64_t perProcessContiguous_;
    mutable std::mutex mutex_;
    std::map<uint32_t, uint64_t> contiguousOf_;  // bytes held, by the process whose request allocated them
    std::map<uintptr_t, size_t> pool_;
    std::map<uint64_t, ContiguousBlock> contiguous_;
    std::vector<UserView> views_;
};

}  // namespace nt
