#include "lxmachine/hw/contiguous_allocator.h"

namespace lxhw {

ContiguousAllocator::ContiguousAllocator(uint64_t base, uint64_t size) {
    if (size >= kPageSize) free_[base] = size & ~(kPageSize - 1);
}

std::optional<uint64_t> ContiguousAllocator::allocate(uint64_t bytes, uint64_t highestAcceptable,
                                                      uint64_t alignment) {
    if (bytes == 0 || bytes > (uint64_t{1} << 40)) return std::nullopt;
    if (alignment < kPageSize || (alignment & (alignment - 1)) != 0) return std::nullopt;
    const uint64_t length = (bytes + kPageSize - 1) & ~(kPageSize - 1);
    std::lock_guard lock(mutex_);
    for (auto it = free_.begin(); it != free_.end(); ++it) {
        const uint64_t rangeStart = it->first;
        const uint64_t rangeEnd = it->first + it->second;
        const uint64_t start = (rangeStart + alignment - 1) & ~(alignment - 1);
        if (start < rangeStart || start + length > rangeEnd || start + length < start) continue;
        if (start + length - 1 > highestAcceptable) break;  // ranges are sorted: nothing lower is left
        free_.erase(it);
        if (start > rangeStart) free_[rangeStart] = start - rangeStart;
        if (start + length < rangeEnd) free_[start + length] = rangeEnd - (start + length);
        allocated_[start] = length;
        return start;
    }
    return std::nullopt;
}

bool ContiguousAllocator::free(uint64_t start) {
    std::lock_guard lock(mutex_);
    auto block = allocated_.find(start);
    if (block == allocated_.end()) return false;
    uint64_t begin = start;
    uint64_t length = block->second;
    allocated_.erase(block);
    auto next = free_.lower_bound(begin);
    if (next != free_.end() && next->first == begin + length) {
        length += next->second;
        next = free_.erase(next);
    }
    if (next != free_.begin()) {
        auto previous = std::prev(next);
        if (previous->first + previous->second == begin) {
            begin = previous->first;
            length += previous->second;
            free_.erase(previous);
        }
    }
    free_[begin] = length;
    return true;
}

uint64_t ContiguousAllocator::blockSize(uint64_t start) const {
    std::lock_guard lock(mutex_);
    auto block = allocated_.find(start);
    return block == allocated_.end() ? 0 : block->second;
}

std::optional<std::pair<uint64_t, uint64_t>> ContiguousAllocator::blockContaining(uint64_t address) const {
    std::lock_guard lock(mutex_);
    auto it = allocated_.upper_bound(address);
    if (it == allocated_.begin()) return std::nullopt;
    --it;
    if (address >= it->first + it->second) return std::nullopt;
    return std::make_pair(it->first, it->second);
}

uint64_t ContiguousAllocator::freeBytes() const {
    std::lock_guard lock(mutex_);
    uint64_t total = 0;
    for (const auto& [start, length] : free_) total += length;
    return total;
}

uint64_t ContiguousAllocator::usedBytes() const {
    std::lock_guard lock(mutex_);
    uint64_t total = 0;
    for (const auto& [start, length] : allocated_) total += length;
    return total;
}

}  // namespace lxhw
