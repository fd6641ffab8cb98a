// A stand-in card for the driver's in-process tests: 32 plain ports in I/O
// BAR 0, 4 KiB of plain registers in memory BAR 1, an interrupt pin,
// an access counter, and a gate register whose read holds the reading
// thread (and with it the driver's start-I/O) until the test opens it.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <mutex>

#include "lxmachine/hw/pci_function.h"

namespace terncardvi_test {

class GateFunction final : public lxhw::PciFunction {
public:
    static constexpr uint16_t kDeviceId = 0x7E2D;  // served by the probe service only
    static constexpr int kPortBar = 0;
    static constexpr int kRegisterBar = 1;
    static constexpr uint32_t kGateOffset = 0xFF0;
    static constexpr uint32_t kGateValue = 0x6A7E0FF0;

    GateFunction();
    std::string kind() const override { return "terncard-gate"; }
    uint32_t barRead(int bar, uint64_t offset, unsigned size) override;
    void barWrite(int bar, uint64_t offset, unsigned size, uint32_t value) override;

    uint32_t accesses() const { return accesses_.load(); }
    uint32_t word(uint32_t offset) const;
    uint8_t port(uint32_t offset) const;
    // True once a reader waits at the gate (bounded poll by the caller).
    bool readerAtGate() const { return atGate_.load() > 0; }
    void openGate();

private:
    mutable std::mutex mutex_;
    std::condition_variable gateOpened_;
    bool gateOpen_ = false;
    std::atomic<int> atGate_{0};
    std::atomic<uint32_t> accesses_{0};
    std::array<uint8_t, 0x1000> registers_{};
    std::array<uint8_t, 32> ports_{};
};

}  // namespace terncardvi_test
