#include "lxmachine/hw/pci_bus.h"

#include <algorithm>
#include <mutex>
#include <tuple>

namespace lxhw {
namespace {

bool lessThan(const PciAddress& a, const PciAddress& b) {
    return std::tie(a.bus, a.device, a.function) < std::tie(b.bus, b.device, b.function);
}

}  // namespace

PciBus::PciBus(uint32_t busCount, InterruptSink* interrupts) : busCount_(busCount), interrupts_(interrupts) {}

bool PciBus::place(const PciAddress& address, std::shared_ptr<PciFunction> function) {
    if (!function || address.bus >= busCount_ || address.device >= kDevicesPerBus ||
        address.function >= kFunctionsPerDevice)
        return false;
    std::unique_lock lock(mutex_);
    for (const Slot& slot : slots_) {
        if (slot.address == address) return false;
    }
    if (!assignBars(*function)) return false;
    if (function->usesInterrupt() && interrupts_) {
        function->connectInterrupt(interrupts_, static_cast<uint8_t>(kFirstInterruptLine + nextLine_));
        nextLine_ = (nextLine_ + 1) % kInterruptLines;
    }
    function->configWrite(pci::kCommand, 2, pci::kCommandIo | pci::kCommandMemory | pci::kCommandBusMaster);
    auto position = std::upper_bound(slots_.begin(), slots_.end(), address,
                                     [](const PciAddress& a, const Slot& s) { return lessThan(a, s.address); });
    slots_.insert(position, Slot{address, std::move(function)});
    return true;
}

// Addresses go to the lowest naturally aligned gap of the window that no
// other BAR uses, so a removed card's range is reused by the next one.
bool PciBus::assignBars(PciFunction& function) {
    struct Used {
        uint64_t start, end;
    };
    for (int index = 0; index < pci::kBarCount; ++index) {
        const BarDescription& bar = function.bar(index);
        if (bar.size == 0 || function.barAddress(index) != 0) continue;
        std::vector<Used> used;
        auto collect = [&](PciFunction& other) {
            for (int i = 0; i < pci::kBarCount; ++i) {
                const BarDescription& b = other.bar(i);
                if (b.size && b.io == bar.io && other.barAddress(i))
                    used.push_back({other.barAddress(i), other.barAddress(i) + b.size});
            }
        };
        for (Slot& slot : slots_) collect(*slot.function);
        collect(function);
        const uint64_t windowBase = bar.io ? kIoWindowBase : kMemoryWindowBase;
        const uint64_t windowEnd = bar.io ? kIoWindowEnd : kMemoryWindowEnd;
        uint64_t candidate = windowBase;
        bool placed = false;
        while (candidate + bar.size <= windowEnd) {
            candidate = (candidate + bar.size - 1) & ~(bar.size - 1);
            if (candidate + bar.size > windowEnd) break;
            auto clash = std::find_if(used.begin(), used.end(), [&](const Used& u) {
                return candidate < u.end && u.start < candidate + bar.size;
            });
            if (clash == used.end()) {
                placed = true;
                break;
            }
            candidate = clash->end;
        }
        if (!placed) return false;
        function.setBarAddress(index, candidate);
    }
    return true;
}

std::optional<uint32_t> PciBus::freeDevice(uint32_t bus, uint32_t firstDevice) const {
    if (bus >= busCount_) return std::nullopt;
    std::shared_lock lock(mutex_);
    for (uint32_t device = firstDevice; device < kDevicesPerBus; ++device) {
        bool taken = std::any_of(slots_.begin(), slots_.end(), [&](const Slot& s) {
            return s.address.bus == bus && s.address.device == device;
        });
        if (!taken) return device;
    }
    return std::nullopt;
}

std::shared_ptr<PciFunction> PciBus::remove(const PciAddress& address) {
    std::unique_lock lock(mutex_);
    for (auto it = slots_.begin(); it != slots_.end(); ++it) {
        if (it->address == address) {
            auto function = std::move(it->function);
            slots_.erase(it);
            function->disconnectInterrupt();
            return function;
        }
    }
    return nullptr;
}

std::shared_ptr<PciFunction> PciBus::at(const PciAddress& address) const {
    std::shared_lock lock(mutex_);
    for (const Slot& slot : slots_) {
        if (slot.address == address) return slot.function;
    }
    return nullptr;
}

std::optional<PciAddress> PciBus::addressOf(const PciFunction* function) const {
    std::shared_lock lock(mutex_);
    for (const Slot& slot : slots_) {
        if (slot.function.get() == function) return slot.address;
    }
    return std::nullopt;
}

std::vector<std::pair<PciAddress, std::shared_ptr<PciFunction>>> PciBus::functions() const {
    std::shared_lock lock(mutex_);
    std::vector<std::pair<PciAddress, std::shared_ptr<PciFunction>>> result;
    for (const Slot& slot : slots_) result.emplace_back(slot.address, slot.function);
    return result;
}

uint32_t PciBus::configRead(const PciAddress& address, uint32_t offset, uint32_t length) const {
    auto function = at(address);
    if (!function) return length >= 4 ? 0xFFFFFFFFu : (1u << (8 * length)) - 1;
    return function->configRead(offset, length);
}

void PciBus::configWrite(const PciAddress& address, uint32_t offset, uint32_t length, uint32_t value) {
    if (auto function = at(address)) function->configWrite(offset, length, value);
}

std::optional<DecodedAccess> PciBus::decode(uint64_t address, bool io) const {
    std::shared_lock lock(mutex_);
    for (const Slot& slot : slots_) {
        const uint16_t command = static_cast<uint16_t>(slot.function->configRead(pci::kCommand, 2));
        if (!(command & (io ? pci::kCommandIo : pci::kCommandMemory))) continue;
        for (int index = 0; index < pci::kBarCount; ++index) {
            const BarDescription& bar = slot.function->bar(index);
            if (bar.size == 0 || bar.io != io) continue;
            const uint64_t base = slot.function->barAddress(index);
            if (base != 0 && address >= base && address - base < bar.size)
                return DecodedAccess{slot.function, index, address - base};
        }
    }
    return std::nullopt;
}

std::optional<DecodedAccess> PciBus::decodeMemory(uint64_t physical) const { return decode(physical, false); }
std::optional<DecodedAccess> PciBus::decodeIo(uint64_t port) const { return decode(port, true); }

}  // namespace lxhw
