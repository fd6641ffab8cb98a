// Shared set-up for the card tests: a machine's memory, a card with a fast
// clock, register access as the driver does it, and bounded waits.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "lxmachine/hw/physical_memory.h"
#include "lxmachine/hw/terncard/terncard.h"

namespace lxhw::tern::testing {

constexpr uint64_t kMiB = 1024 * 1024;

// Polls `done` until it holds or `seconds` pass.
inline bool waitFor(const std::function<bool()>& done, double seconds = 5.0) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return done();
}

class CardHarness {
public:
    explicit CardHarness(TernCardSetup setup = {}, double clockFactor = 20.0) {
        std::string error;
        memory = PhysicalMemory::create(32 * kMiB, 0xE0000000, 4 * kMiB, &error);
        EXPECT_TRUE(memory) << error;
        setup.clockFactor = clockFactor;
        card = std::make_unique<TernCard>(setup, memory.get());
        card->configWrite(pci::kCommand, 2, pci::kCommandMemory | pci::kCommandBusMaster);
    }

    uint32_t read(uint32_t offset) { return card->barRead(0, offset, 4); }
    void write(uint32_t offset, uint32_t value) { card->barWrite(0, offset, 4, value); }
    uint8_t* ram(uint64_t physical) { return memory->hostAddress(physical); }

    // One I2C step as the card library makes it: command, poll for done, clear.
    // Returns the status seen (0 when done never came).
    uint32_t i2cStep(uint32_t word) {
        write(kI2c, word);
        for (int poll = 0; poll < 65536; ++poll) {
            const uint32_t status = read(kIntStatus);
            if (status & kIntI2cDone) {
                write(kIntStatus, kIntI2cDone);
                return status;
            }
        }
        return 0;
    }
    uint8_t received() { return static_cast<uint8_t>(read(kI2c) >> 8); }

    // Reads `count` bytes from device/sub-address; false when a step failed or
    // was not acknowledged.
    bool i2cRead(uint8_t device, uint8_t sub, std::vector<uint8_t>* bytes, size_t count) {
        bytes->clear();
        auto ok = [](uint32_t s) { return (s & kIntI2cDone) && (s & kIntI2cAck); };
        if (!ok(i2cStep(uint32_t{device} << 24 | uint32_t{sub} << 16 | kI2cStartWrite))) return false;
        if (count == 1) {
            if (!ok(i2cStep(uint32_t{device} << 24 | 0x01000000 | kI2cReadOne))) return false;
            bytes->push_back(received());
            return true;
        }
        if (!ok(i2cStep(uint32_t{device} << 24 | 0x01000000 | kI2cReadFirst))) return false;
        bytes->push_back(received());
        for (size_t k = 1; k + 1 < count; ++k) {
            if (!ok(i2cStep(kI2cNextByte))) return false;
            bytes->push_back(received());
        }
        if (!ok(i2cStep(kI2cReadLast))) return false;
        bytes->push_back(received());
        return true;
    }

    // An acknowledged write of `data` (at least one byte) to device/sub-address.
    bool i2cWrite(uint8_t device, uint8_t sub, const std::vector<uint8_t>& data) {
        auto ok = [](uint32_t s) { return (s & kIntI2cDone) && (s & kIntI2cAck); };
        if (!ok(i2cStep(uint32_t{device} << 24 | uint32_t{sub} << 16 | kI2cStartWrite))) return false;
        for (size_t k = 0; k + 1 < data.size(); ++k) {
            if (!ok(i2cStep(uint32_t{data[k]} << 24 | kI2cNextByte))) return false;
        }
        return ok(i2cStep(uint32_t{data.back()} << 24 | kI2cLastWrite));
    }

    // Field waits as the card library makes them (bounded here).
    bool waitOdd() {
        return waitFor([&] { return read(kVideoStatus) & kStatusSecondField; }) &&
               waitFor([&] { return !(read(kVideoStatus) & kStatusSecondField); });
    }
    bool waitEven() {
        return waitFor([&] { return !(read(kVideoStatus) & kStatusSecondField); }) &&
               waitFor([&] { return read(kVideoStatus) & kStatusSecondField; });
    }
    void startDma() {
        write(kIntStatus, kIntDmaErrors);
        write(kCaptureControl, 3);
        write(kDmaControl, 3);
    }
    void stopDma() {
        write(kCaptureControl, 0);
        write(kDmaControl, 0);
    }

    std::unique_ptr<PhysicalMemory> memory;
    std::unique_ptr<TernCard> card;
};

// Programs the window registers of both sets as the card library would for a
// PAL picture captured 1:1 (both scales 1), `width` pixels by `lines` lines per
// field starting at field line `firstLine` and sample `firstSample`.
inline void programWindow(CardHarness& h, uint32_t width, uint32_t lines, uint32_t firstLine = 0,
                          uint32_t firstSample = 0) {
    const uint32_t vactive = 2 * lines;
    const uint32_t vdelay = 32 + 2 * firstLine;
    const uint32_t hdelay = 154 + firstSample;
    const uint32_t high = ((width >> 8) & 3) | ((hdelay >> 8) & 3) << 2 | ((vactive >> 8) & 3) << 4 |
                          ((vdelay >> 8) & 3) << 6;
    for (uint32_t set : {0u, uint32_t{kSetB}}) {
        h.write(kHighBitsA + set, high);
        h.write(kVDelayA + set, vdelay & 0xFF);
        h.write(kVActiveA + set, vactive & 0xFF);
        h.write(kHDelayA + set, hdelay & 0xFF);
        h.write(kHActiveA + set, width & 0xFF);
        h.write(kHScaleHiA + set, 828 >> 8);
        h.write(kHScaleLoA + set, 828 & 0xFF);
        h.write(kVScaleHiA + set, 0x20);
        h.write(kVScaleLoA + set, 0);
    }
    h.write(kInputFormat, kFormatPal);
    // Unity contrast and saturation, as the driver's defaults program them
    // (the reset values of 0 would give a flat grey picture).
    h.write(kContrast, 0);
    h.write(kSatU, 0);
    h.write(kSatV, 182);
    h.write(kControlA, kControlContrastBit8 | kControlSatUBit8);
}

// The whole PAL picture scaled to `width` x `lines` per field with the driver's
// constants for ratios 1, 2 and 4 (as the video parameter routines write them).
inline void programScaledWindow(CardHarness& h, uint32_t width, uint32_t lines) {
    const uint32_t rx = 768 / width, ry = 288 / lines;
    const uint32_t hscale = rx == 1 ? 828 : rx == 2 ? 5753 : 15602;
    const uint32_t vscale = ry == 1 ? 0 : ry == 2 ? 0x1E00 : 0x1A00;
    const uint32_t hdelay = rx == 1 ? 154 : (width * 186 * 768 / (768 * 922)) / 2 * 2;
    const uint32_t vactive = 576, vdelay = 32;
    const uint32_t high = ((width >> 8) & 3) | ((hdelay >> 8) & 3) << 2 | ((vactive >> 8) & 3) << 4;
    for (uint32_t set : {0u, uint32_t{kSetB}}) {
        h.write(kHighBitsA + set, high);
        h.write(kVDelayA + set, vdelay);
        h.write(kVActiveA + set, vactive & 0xFF);
        h.write(kHDelayA + set, hdelay & 0xFF);
        h.write(kHActiveA + set, width & 0xFF);
        h.write(kHScaleHiA + set, hscale >> 8);
        h.write(kHScaleLoA + set, hscale & 0xFF);
        h.write(kVScaleHiA + set, 0x20 | vscale >> 8);
        h.write(kVScaleLoA + set, vscale & 0xFF);
    }
    h.write(kContrast, 0);
    h.write(kSatU, 0);
    h.write(kSatV, 182);
    h.write(kControlA, kControlContrastBit8 | kControlSatUBit8);
}

}  // namespace lxhw::tern::testing
