// The card's I2C master and the bus behind it. The driver writes one command
// word per step to REG_I2C; the step runs at 100 kHz of machine time, after
// which REG_INT_STATUS shows the done bit and, if every byte of the step was
// acknowledged, the acknowledge bit. A byte received lands in bits 15..8 of
// REG_I2C.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>

#include "lxmachine/hw/terncard/timing.h"

namespace lxhw::tern {

// A device on the bus, addressed by its 8-bit write address (read address = +1).
class I2cDevice {
public:
    virtual ~I2cDevice() = default;
    // A start or repeated start naming this device; false = no acknowledge.
    virtual bool start(bool read) = 0;
    // A byte written after the address; false = not acknowledged.
    virtual bool write(uint8_t byte) = 0;
    // A byte read; `more` is the master's acknowledge (another byte follows).
    virtual uint8_t read(bool more) = 0;
    virtual void stop() = 0;
};

// Control codes, the low byte of the command word.
enum I2cControl : uint8_t {
    kI2cStartWrite = 0xAB,     // start, address byte (31..24), sub-address (23..16)
    kI2cNextByte = 0xBF,       // one further byte, sent or received by the direction
    kI2cLastWrite = 0x9F,      // send bits 31..24, then stop
    kI2cReadOne = 0x8B,        // repeated start with the read address, one byte, stop
    kI2cReadFirst = 0xAF,      // repeated start with the read address, first of several
    kI2cReadLast = 0x9B,       // receive the last byte, stop
};

class I2cEngine {
public:
    static constexpr uint64_t kBitNs = 10'000;  // 100 kHz

    explicit I2cEngine(const MachineClock* clock) : clock_(clock) {}

    // Devices stay owned by the caller and must outlive the engine.
    void attach(uint8_t address, I2cDevice* device);

    // A command word written to REG_I2C.
    void command(uint32_t word);
    // REG_I2C as read: the last command with the received byte in bits 15..8.
    uint32_t readRegister() const;
    // The done and acknowledge bits once the step's time has passed, else 0.
    uint32_t completedStatus();
    // Card reset: an open transaction ends, nothing is pending.
    void reset();

private:
    void run(uint32_t word);
    I2cDevice* addressed(uint8_t addressByte, bool* ack);

    const MachineClock* clock_;
    mutable std::mutex mutex_;
    std::map<uint8_t, I2cDevice*> devices_;  // by write address
    I2cDevice* current_ = nullptr;           // device of the open transaction
    bool reading_ = false;
    uint32_t word_ = 0x03;
    uint8_t received_ = 0;
    bool pending_ = false;
    bool acked_ = false;
    uint64_t doneAt_ = 0;
};

}  // namespace lxhw::tern
