#include "gate_function.h"

#include <chrono>
#include <cstring>
#include <span>

namespace terncardvi_test {
namespace {

lxhw::PciIdentity gateIdentity() {
    lxhw::PciIdentity id;
    id.vendor = 0x4C58;
    id.device = GateFunction::kDeviceId;
    id.baseClass = 0x04;
    id.revision = 0x01;
    id.subsystemVendor = 0x4C58;
    id.subsystem = 0x0001;
    return id;
}

std::array<lxhw::BarDescription, lxhw::pci::kBarCount> gateBars() {
    std::array<lxhw::BarDescription, lxhw::pci::kBarCount> bars{};
    // Ports first: the driver takes the last register resource, the memory.
    bars[0] = lxhw::BarDescription{32, true, false, false};
    bars[1] = lxhw::BarDescription{0x1000, false, false, false};
    return bars;
}

}  // namespace

GateFunction::GateFunction() : PciFunction(gateIdentity(), gateBars(), true) {}

uint32_t GateFunction::barRead(int bar, uint64_t offset, unsigned size) {
    accesses_.fetch_add(1);
    std::unique_lock lock(mutex_);
    if (bar == kRegisterBar && offset == kGateOffset && size == 4) {
        atGate_.fetch_add(1);
        // Bounded: a test that forgets the gate fails instead of hanging.
        gateOpened_.wait_for(lock, std::chrono::seconds(20), [this] { return gateOpen_; });
        atGate_.fetch_sub(1);
        return kGateValue;
    }
    const auto& bytes = bar == kRegisterBar ? std::span<const uint8_t>(registers_) : std::span<const uint8_t>(ports_);
    if (offset + size > bytes.size()) return 0xFFFFFFFF;
    uint32_t value = 0;
    std::memcpy(&value, bytes.data() + offset, size);
    return value;
}

void GateFunction::barWrite(int bar, uint64_t offset, unsigned size, uint32_t value) {
    accesses_.fetch_add(1);
    std::lock_guard lock(mutex_);
    auto bytes = bar == kRegisterBar ? std::span<uint8_t>(registers_) : std::span<uint8_t>(ports_);
    if (offset + size > bytes.size()) return;
    std::memcpy(bytes.data() + offset, &value, size);
}

uint32_t GateFunction::word(uint32_t offset) const {
    std::lock_guard lock(mutex_);
    uint32_t value = 0;
    std::memcpy(&value, registers_.data() + offset, sizeof value);
    return value;
}

uint8_t GateFunction::port(uint32_t offset) const {
    std::lock_guard lock(mutex_);
    return ports_[offset];
}

void GateFunction::openGate() {
    {
        std::lock_guard lock(mutex_);
        gateOpen_ = true;
    }
    gateOpened_.notify_all();
}

}  // namespace terncardvi_test
