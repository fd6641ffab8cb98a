// Page allocator for physically contiguous blocks: first fit from the lowest
// address, every block page aligned and below a caller's highest acceptable
// address, neighbouring free ranges merged again on free.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>

namespace lxhw {

class ContiguousAllocator {
public:
    static constexpr uint64_t kPageSize = 4096;

    // Manages [base, base + size); both page aligned.
    ContiguousAllocator(uint64_t base, uint64_t size);

    // A block of at least `bytes` (rounded up to pages) whose start is a
    // multiple of `alignment` (a power of two, at least a page) and whose
    // last byte is at or below `highestAcceptable`. Empty when none fits.
    std::optional<uint64_t> allocate(uint64_t bytes, uint64_t highestAcceptable, uint64_t alignment = kPageSize);
    // Frees the block that starts at `start`; false when no block starts there.
    bool free(uint64_t start);
    // Size of the block starting at `start`, 0 when there is none.
    uint64_t blockSize(uint64_t start) const;
    // Start and size of the block containing `address`, if any.
    std::optional<std::pair<uint64_t, uint64_t>> blockContaining(uint64_t address) const;
    uint64_t freeBytes() const;
    uint64_t usedBytes() const;

private:
    mutable std::mutex mutex_;
    std::map<uint64_t, uint64_t> free_;       // start -> length
    std::map<uint64_t, uint64_t> allocated_;  // start -> length
};

}  // namespace lxhw
