// The Heron card's audio function: a register window (memory or I/O space)
// with an interrupt status and a control register, and an interrupt line.
// While the block enable bit of the control register is set, the function
// finishes an audio block at its configured rate and raises status bit 11.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "lxmachine/hw/pci_function.h"

namespace lxhw::heron {

namespace reg {
constexpr uint32_t kStatus = 0x100;     // causes; write 1s to acknowledge them
constexpr uint32_t kControl = 0x104;    // bit 11: block interrupts enabled
constexpr uint32_t kCauseSet = 0x108;   // write 1s to raise causes (software interrupt)
}  // namespace reg

constexpr uint32_t kCauseMask = 0x000FF800;  // status bits 11 to 19
constexpr uint32_t kBlockDone = 0x00000800;  // bit 11: an audio block is complete

constexpr uint64_t kMemoryWindowSize = 0x1000;
constexpr uint64_t kPortWindowSize = 0x200;

// 48 kHz in blocks of 128 samples.
constexpr double kDefaultBlockRate = 375.0;

struct HeronAudioSetup {
    double blockRate = kDefaultBlockRate;  // blocks per second of machine time
    bool portSpace = false;                // registers in I/O space instead of memory
    double clockFactor = 1.0;              // machine time runs this much faster
};

class HeronAudio final : public PciFunction {
public:
    explicit HeronAudio(const HeronAudioSetup& setup);
    ~HeronAudio() override;

    std::string kind() const override { return "heron_audio"; }
    uint32_t barRead(int barIndex, uint64_t offset, unsigned size) override;
    void barWrite(int barIndex, uint64_t offset, unsigned size, uint32_t value) override;
    void powerOff() override;

    // Sets status causes (bits outside 11 to 19 are ignored) and raises the
    // interrupt, as the function's own events do.
    void raiseCauses(uint32_t causes);

    bool portSpace() const { return setup_.portSpace; }
    double blockRate() const { return setup_.blockRate; }
    uint64_t windowSize() const { return setup_.portSpace ? kPortWindowSize : kMemoryWindowSize; }
    // Blocks completed while enabled, and times the interrupt line was raised.
    uint64_t blocksCompleted() const { return blocks_.load(); }
    uint64_t interruptsRaised() const { return interrupts_.load(); }

private:
    uint32_t readRegister(uint32_t offset);
    void writeRegister(uint32_t offset, uint32_t value);
    // With mutex_ held: sets causes and raises the line.
    void setCausesLocked(uint32_t causes);
    void runBlockClock();

    const HeronAudioSetup setup_;
    std::mutex mutex_;
    std::condition_variable controlChanged_;
    uint32_t status_ = 0;
    uint32_t control_ = 0;
    bool stopping_ = false;
    std::vector<uint8_t> scratch_;  // the rest of the window: plain read/write bytes
    std::atomic<uint64_t> blocks_{0};
    std::atomic<uint64_t> interrupts_{0};
    std::thread clock_;
};

// Null when the function is not an audio function.
HeronAudio* asHeronAudio(PciFunction* function);

}  // namespace lxhw::heron
