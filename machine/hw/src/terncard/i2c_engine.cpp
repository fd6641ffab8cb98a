#include "lxmachine/hw/terncard/i2c.h"

#include "lxmachine/hw/terncard/registers.h"

namespace lxhw::tern {

void I2cEngine::attach(uint8_t address, I2cDevice* device) {
    std::lock_guard lock(mutex_);
    devices_[static_cast<uint8_t>(address & 0xFE)] = device;
}

I2cDevice* I2cEngine::addressed(uint8_t addressByte, bool* ack) {
    auto it = devices_.find(static_cast<uint8_t>(addressByte & 0xFE));
    I2cDevice* device = it == devices_.end() ? nullptr : it->second;
    *ack = device && device->start(addressByte & 1);
    return *ack ? device : nullptr;
}

// Each step is carried out on the bus at once; its result becomes visible
// when the bits it takes on the wire would have been clocked out.
void I2cEngine::command(uint32_t word) {
    std::lock_guard lock(mutex_);
    word_ = word;
    const uint8_t control = static_cast<uint8_t>(word);
    unsigned bytes = 0;
    switch (control) {
    case kI2cStartWrite: bytes = 2; break;
    case kI2cNextByte:
    case kI2cLastWrite:
    case kI2cReadLast: bytes = 1; break;
    case kI2cReadOne:
    case kI2cReadFirst: bytes = 2; break;
    default:
        // Not a transfer step (the reset value 3 is one): the engine stays idle.
        pending_ = false;
        return;
    }
    run(word);
    pending_ = true;
    // 9 clocks per byte plus start and stop conditions.
    doneAt_ = clock_->now() + (9 * bytes + 2) * kBitNs;
}

void I2cEngine::run(uint32_t word) {
    const uint8_t control = static_cast<uint8_t>(word);
    const uint8_t first = static_cast<uint8_t>(word >> 24);
    const uint8_t second = static_cast<uint8_t>(word >> 16);
    bool ack = false;
    switch (control) {
    case kI2cStartWrite:
        if (current_) current_->stop();
        current_ = addressed(first, &ack);
        reading_ = (first & 1) != 0;
        if (current_) ack = !reading_ && current_->write(second);
        break;
    case kI2cReadOne:
    case kI2cReadFirst: {
        // Repeated start: the open transaction's device sees a new start.
        I2cDevice* device = addressed(static_cast<uint8_t>(first | 1), &ack);
        if (current_ && current_ != device) current_->stop();
        current_ = device;
        reading_ = true;
        if (current_) {
            received_ = current_->read(control == kI2cReadFirst);
        } else {
            received_ = 0xFF;  // nobody drives the bus
        }
        if (control == kI2cReadOne && current_) {
            current_->stop();
            current_ = nullptr;
        }
        break;
    }
    case kI2cNextByte:
    case kI2cLastWrite:
    case kI2cReadLast: {
        const bool last = control != kI2cNextByte;
        if (!current_) {
            received_ = 0xFF;
            break;
        }
        if (reading_) {
            received_ = current_->read(!last);
            ack = true;  // the device drove the byte
        } else {
            ack = current_->write(first);
        }
        if (last) {
            current_->stop();
            current_ = nullptr;
        }
        break;
    }
    default: break;
    }
    acked_ = ack;
}

uint32_t I2cEngine::readRegister() const {
    std::lock_guard lock(mutex_);
    return (word_ & ~0xFF00u) | (uint32_t{received_} << 8);
}

uint32_t I2cEngine::completedStatus() {
    std::lock_guard lock(mutex_);
    if (!pending_ || clock_->now() < doneAt_) return 0;
    pending_ = false;
    return kIntI2cDone | (acked_ ? kIntI2cAck : 0);
}

void I2cEngine::reset() {
    std::lock_guard lock(mutex_);
    if (current_) current_->stop();
    current_ = nullptr;
    reading_ = false;
    word_ = 0x03;
    received_ = 0;
    pending_ = false;
    acked_ = false;
}

}  // namespace lxhw::tern
