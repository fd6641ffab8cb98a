// Register windows: MmMapIoSpace of a device's BAR reserves an inaccessible
// address range; register routines look an address up here and reach the
// device's handlers without touching the reserved memory.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <shared_mutex>

#include "lxmachine/hw/pci_bus.h"

namespace nt {

class IoSpace {
public:
    explicit IoSpace(lxhw::PciBus& bus);
    ~IoSpace();
    IoSpace(const IoSpace&) = delete;
    IoSpace& operator=(const IoSpace&) = delete;

    // Null when [physical, physical + length) is not decoded by one BAR.
    void* map(uint64_t physical, uint64_t length);
    bool unmap(void* address);
    size_t mappings() const;

    // Register access: false when the address lies in no register window.
    bool read(const volatile void* address, unsigned size, uint32_t* value) const;
    bool write(volatile void* address, unsigned size, uint32_t value) const;
    uint32_t readPort(uint64_t port, unsigned size) const;
    void writePort(uint64_t port, unsigned size, uint32_t value) const;

private:
    struct Window {
        uint64_t length;        // as asked
        uint64_t reserved;      // bytes reserved in the address space
        uint64_t physical;
    };
    std::optional<uint64_t> physicalOf(const volatile void* address, unsigned size) const;

    lxhw::PciBus& bus_;
    mutable std::shared_mutex mutex_;
    std::map<uintptr_t, Window> windows_;
};

}  // namespace nt
