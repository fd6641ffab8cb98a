// The card's 24 general-purpose lines. A line enabled as output reads back
// the level driven from REG_GPIO_DATA; an input reads the board: lines 0
// and 1 carry the board switch (line 0 = bit 0), the others read 0.
#pragma once

#include <atomic>
#include <cstdint>

namespace lxhw::tern {

class GpioLines {
public:
    static constexpr uint32_t kLines = 0x00FFFFFF;

    explicit GpioLines(uint8_t boardSwitch) : switch_(boardSwitch & 3) {}

    void setBoardSwitch(uint8_t bits) { switch_.store(bits & 3); }
    uint8_t boardSwitch() const { return static_cast<uint8_t>(switch_.load()); }

    void writeEnable(uint32_t value) { enable_.store(value & kLines); }
    void writeData(uint32_t value) { latch_.store(value & kLines); }
    uint32_t enable() const { return enable_.load(); }
    uint32_t read() const {
        const uint32_t enable = enable_.load();
        return (latch_.load() & enable) | (switch_.load() & ~enable);
    }
    void reset() {
        enable_.store(0);
        latch_.store(0);
    }

private:
    std::atomic<uint32_t> switch_;
    std::atomic<uint32_t> enable_{0};
    std::atomic<uint32_t> latch_{0};
};

}  // namespace lxhw::tern
