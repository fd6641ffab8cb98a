// One function of a PCI device: a configuration header with BARs that can be
// sized by writing all-ones, register handlers per BAR switched on offset,
// and an interrupt line. Device models derive from it and override the
// handlers, as small device models do in an emulator.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "lxmachine/hw/pci_config.h"

namespace lxhw {

// Where a function's interrupt line is wired: the machine's interrupt controller.
class InterruptSink {
public:
    virtual ~InterruptSink() = default;
    virtual void setLineLevel(const void* source, uint8_t line, bool asserted) = 0;
};

struct PciIdentity {
    uint16_t vendor = 0;
    uint16_t device = 0;
    uint8_t baseClass = 0;
    uint8_t subclass = 0;
    uint8_t progIf = 0;
    uint8_t revision = 0;
    uint16_t subsystemVendor = 0;
    uint16_t subsystem = 0;
};

struct BarDescription {
    uint64_t size = 0;  // 0: BAR not implemented; else a power of two
    bool io = false;
    bool prefetchable = false;
    bool backedByMemory = false;  // accesses reach plain memory (VRAM), not handlers
};

class PciFunction {
public:
    PciFunction(const PciIdentity& identity, const std::array<BarDescription, pci::kBarCount>& bars,
                bool usesInterrupt);
    virtual ~PciFunction();
    PciFunction(const PciFunction&) = delete;
    PciFunction& operator=(const PciFunction&) = delete;

    // The model's kind, as named in the device factory ("display", "terncard" ...).
    virtual std::string kind() const = 0;

    const PciIdentity& identity() const { return identity_; }

    // Configuration space, little-endian, by offset and length 1, 2 or 4.
    // Accesses that cross the end of the header read all-ones / are dropped.
    uint32_t configRead(uint32_t offset, uint32_t length) const;
    void configWrite(uint32_t offset, uint32_t length, uint32_t value);

    const BarDescription& bar(int index) const { return bars_[index]; }
    uint64_t barAddress(int index) const;
    void setBarAddress(int index, uint64_t address);

    // Register access through a BAR; size 1, 2 or 4 bytes.
    virtual uint32_t barRead(int barIndex, uint64_t offset, unsigned size);
    virtual void barWrite(int barIndex, uint64_t offset, unsigned size, uint32_t value);

    // Interrupt wiring: the bus assigns the line and the sink when it places the function.
    bool usesInterrupt() const { return usesInterrupt_; }
    uint8_t interruptLine() const;
    void connectInterrupt(InterruptSink* sink, uint8_t line);
    void disconnectInterrupt();
    bool interruptAsserted() const { return asserted_.load(); }

    // The machine stops the model (timers, threads) before it is removed.
    virtual void powerOff() {}

protected:
    void raiseInterrupt();
    void lowerInterrupt();

private:
    void writeConfigByte(uint32_t offset, uint8_t value);

    const PciIdentity identity_;
    const std::array<BarDescription, pci::kBarCount> bars_;
    const bool usesInterrupt_;
    mutable std::mutex configMutex_;
    std::array<uint8_t, pci::kConfigSize> config_{};
    std::mutex sinkMutex_;
    InterruptSink* sink_ = nullptr;
    std::atomic<bool> asserted_{false};
};

}  // namespace lxhw
