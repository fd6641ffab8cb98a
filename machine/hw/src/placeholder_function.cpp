#include "lxmachine/hw/placeholder_function.h"

namespace lxhw {
namespace {

std::array<BarDescription, pci::kBarCount> registerBar(uint64_t bytes) {
    std::array<BarDescription, pci::kBarCount> bars{};
    bars[0] = BarDescription{bytes, false, false, false};
    return bars;
}

}  // namespace

PlaceholderFunction::PlaceholderFunction(std::string kind, const PciIdentity& identity, uint64_t registerBytes)
    : PciFunction(identity, registerBar(registerBytes), true), kind_(std::move(kind)), registers_(registerBytes) {}

uint32_t PlaceholderFunction::barRead(int barIndex, uint64_t offset, unsigned size) {
    if (barIndex != 0 || offset + size > registers_.size()) return PciFunction::barRead(barIndex, offset, size);
    std::lock_guard lock(mutex_);
    uint32_t value = 0;
    for (unsigned i = 0; i < size; ++i) value |= uint32_t{registers_[offset + i]} << (8 * i);
    return value;
}

void PlaceholderFunction::barWrite(int barIndex, uint64_t offset, unsigned size, uint32_t value) {
    if (barIndex != 0 || offset + size > registers_.size()) return;
    std::lock_guard lock(mutex_);
    for (unsigned i = 0; i < size; ++i) registers_[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace lxhw
