#include "lxmachine/hw/pci_function.h"

namespace lxhw {
namespace {

uint32_t barFlags(const BarDescription& bar) {
    if (bar.io) return pci::kBarIoSpace;
    return bar.prefetchable ? pci::kBarPrefetchable : 0;
}

}  // namespace

PciFunction::PciFunction(const PciIdentity& identity, const std::array<BarDescription, pci::kBarCount>& bars,
                         bool usesInterrupt)
    : identity_(identity), bars_(bars), usesInterrupt_(usesInterrupt) {
    auto put16 = [this](uint32_t offset, uint16_t value) {
        config_[offset] = static_cast<uint8_t>(value);
        config_[offset + 1] = static_cast<uint8_t>(value >> 8);
    };
    put16(pci::kVendorId, identity.vendor);
    put16(pci::kDeviceId, identity.device);
    config_[pci::kRevision] = identity.revision;
    config_[pci::kProgIf] = identity.progIf;
    config_[pci::kSubclass] = identity.subclass;
    config_[pci::kClass] = identity.baseClass;
    config_[pci::kHeaderType] = 0x00;
    put16(pci::kSubsystemVendorId, identity.subsystemVendor);
    put16(pci::kSubsystemId, identity.subsystem);
    put16(pci::kStatus, 0x0200);  // medium DEVSEL timing
    config_[pci::kInterruptPin] = usesInterrupt ? 1 : 0;  // INTA#
    config_[pci::kInterruptLine] = 0xFF;                     // not connected yet
    for (int i = 0; i < pci::kBarCount; ++i) {
        uint32_t flags = bars[i].size ? barFlags(bars[i]) : 0;
        for (int b = 0; b < 4; ++b) config_[pci::kBar0 + 4 * i + b] = static_cast<uint8_t>(flags >> (8 * b));
    }
}

PciFunction::~PciFunction() = default;

uint32_t PciFunction::configRead(uint32_t offset, uint32_t length) const {
    if ((length != 1 && length != 2 && length != 4) || offset >= pci::kConfigSize ||
        length > pci::kConfigSize - offset)
        return length == 4 ? 0xFFFFFFFFu : (1u << (8 * length)) - 1;
    std::lock_guard lock(configMutex_);
    uint32_t value = 0;
    for (uint32_t i = 0; i < length; ++i) value |= uint32_t{config_[offset + i]} << (8 * i);
    return value;
}

void PciFunction::configWrite(uint32_t offset, uint32_t length, uint32_t value) {
    if ((length != 1 && length != 2 && length != 4) || offset >= pci::kConfigSize ||
        length > pci::kConfigSize - offset)
        return;
    std::lock_guard lock(configMutex_);
    for (uint32_t i = 0; i < length; ++i) writeConfigByte(offset + i, static_cast<uint8_t>(value >> (8 * i)));
}

// Only the writable fields change: command, cache line, latency, interrupt
// line and the address bits of implemented BARs (the low bits that encode the
// BAR's size stay zero, which is how software sizes a BAR).
void PciFunction::writeConfigByte(uint32_t offset, uint8_t value) {
    if (offset == pci::kCommand) {
        config_[offset] = value & (pci::kCommandIo | pci::kCommandMemory | pci::kCommandBusMaster);
        return;
    }
    if (offset == pci::kCommand + 1 || offset == pci::kCacheLineSize || offset == pci::kLatencyTimer ||
        offset == pci::kInterruptLine) {
        config_[offset] = value;
        return;
    }
    if (offset >= pci::kBar0 && offset < pci::kBar0 + 4 * pci::kBarCount) {
        const int index = static_cast<int>((offset - pci::kBar0) / 4);
        const BarDescription& bar = bars_[index];
        if (bar.size == 0) return;
        const uint32_t byte = (offset - pci::kBar0) % 4;
        const uint32_t flagMask = bar.io ? 0x3u : 0xFu;
        const uint32_t addressMask = ~static_cast<uint32_t>(bar.size - 1) & ~flagMask;
        const uint8_t writable = static_cast<uint8_t>(addressMask >> (8 * byte));
        config_[offset] = static_cast<uint8_t>((config_[offset] & ~writable) | (value & writable));
    }
}

uint64_t PciFunction::barAddress(int index) const {
    if (index < 0 || index >= pci::kBarCount || bars_[index].size == 0) return 0;
    const uint32_t raw = configRead(pci::kBar0 + 4 * index, 4);
    return raw & (bars_[index].io ? ~0x3u : ~0xFu);
}

void PciFunction::setBarAddress(int index, uint64_t address) {
    if (index < 0 || index >= pci::kBarCount || bars_[index].size == 0) return;
    configWrite(pci::kBar0 + 4 * index, 4, static_cast<uint32_t>(address));
}

uint32_t PciFunction::barRead(int, uint64_t, unsigned size) {
    return size == 4 ? 0xFFFFFFFFu : (1u << (8 * size)) - 1;  // nothing decodes: the bus floats high
}

void PciFunction::barWrite(int, uint64_t, unsigned, uint32_t) {}

uint8_t PciFunction::interruptLine() const {
    return static_cast<uint8_t>(configRead(pci::kInterruptLine, 1));
}

void PciFunction::connectInterrupt(InterruptSink* sink, uint8_t line) {
    configWrite(pci::kInterruptLine, 1, line);
    std::lock_guard lock(sinkMutex_);
    sink_ = sink;
}

void PciFunction::disconnectInterrupt() {
    std::lock_guard lock(sinkMutex_);
    if (sink_ && asserted_.load()) sink_->setLineLevel(this, interruptLine(), false);
    sink_ = nullptr;
}

void PciFunction::raiseInterrupt() {
    if (!usesInterrupt_) return;
    std::lock_guard lock(sinkMutex_);
    asserted_.store(true);
    if (sink_) sink_->setLineLevel(this, interruptLine(), true);
}

void PciFunction::lowerInterrupt() {
    std::lock_guard lock(sinkMutex_);
    asserted_.store(false);
    if (sink_) sink_->setLineLevel(this, interruptLine(), false);
}

}  // namespace lxhw
