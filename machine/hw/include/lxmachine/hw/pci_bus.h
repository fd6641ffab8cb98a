// The machine's PCI buses: functions placed at bus/device/function, their
// BARs given addresses from the machine's windows, configuration access by
// address, and the lookup from a physical or port address to the register
// handler that decodes it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <shared_mutex>
#include <vector>

#include "lxmachine/hw/pci_function.h"

namespace lxhw {

struct PciAddress {
    uint32_t bus = 0;
    uint32_t device = 0;
    uint32_t function = 0;
    friend bool operator==(const PciAddress&, const PciAddress&) = default;
};

// The register handler behind an address: which function, which BAR, where in it.
struct DecodedAccess {
    std::shared_ptr<PciFunction> function;
    int bar = -1;
    uint64_t offset = 0;
};

class PciBus {
public:
    static constexpr uint32_t kDevicesPerBus = 32;
    static constexpr uint32_t kFunctionsPerDevice = 8;
    static constexpr uint64_t kMemoryWindowBase = 0xF0000000;
    static constexpr uint64_t kMemoryWindowEnd = 0xFEC00000;
    static constexpr uint64_t kIoWindowBase = 0xC000;
    static constexpr uint64_t kIoWindowEnd = 0x10000;
    static constexpr uint8_t kFirstInterruptLine = 16;
    static constexpr uint8_t kInterruptLines = 8;

    PciBus(uint32_t busCount, InterruptSink* interrupts);

    uint32_t busCount() const { return busCount_; }

    // Places a function, gives its BARs addresses (a BAR whose address is already
    // set keeps it) and wires its interrupt. False when the place is taken or
    // the address windows are full.
    bool place(const PciAddress& address, std::shared_ptr<PciFunction> function);
    // First free device number on a bus at or after `firstDevice`.
    std::optional<uint32_t> freeDevice(uint32_t bus, uint32_t firstDevice = 0) const;
    std::shared_ptr<PciFunction> remove(const PciAddress& address);
    std::shared_ptr<PciFunction> at(const PciAddress& address) const;
    std::optional<PciAddress> addressOf(const PciFunction* function) const;
    // Present functions in bus, device, function order.
    std::vector<std::pair<PciAddress, std::shared_ptr<PciFunction>>> functions() const;

    // Configuration access; an empty slot reads all-ones.
    bool busExists(uint32_t bus) const { return bus < busCount_; }
    uint32_t configRead(const PciAddress& address, uint32_t offset, uint32_t length) const;
    void configWrite(const PciAddress& address, uint32_t offset, uint32_t length, uint32_t value);

    std::optional<DecodedAccess> decodeMemory(uint64_t physical) const;
    std::optional<DecodedAccess> decodeIo(uint64_t port) const;

private:
    struct Slot {
        PciAddress address;
        std::shared_ptr<PciFunction> function;
    };
    bool assignBars(PciFunction& function);
    std::optional<DecodedAccess> decode(uint64_t address, bool io) const;

    const uint32_t busCount_;
    InterruptSink* const interrupts_;
    mutable std::shared_mutex mutex_;
    std::vector<Slot> slots_;  // sorted by address
    uint32_t nextLine_ = 0;
};

}  // namespace lxhw
