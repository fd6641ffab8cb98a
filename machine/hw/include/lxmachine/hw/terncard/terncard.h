// The TernCard capture card: a PCI multimedia function (vendor 0x4C58,
// device 0x7E2C) with its registers behind a 4 KiB memory BAR 0 and an
// interrupt line, an I2C bus with the on-board controller, 24
// general-purpose lines, a video decoder fed by up to four sources and a
// DMA engine that writes fields into physical memory in real time.
//
// Field timing. Fields follow each other at 50/s (PAL) or 59.94/s (NTSC)
// times the machine's clock factor, numbered from power-on; even numbers are
// first (odd) fields, odd numbers second (even) fields. The decoder's timing
// runs free, so fields go on without a signal (the picture is black).
// A per-card thread does a field's work when it is due; everything a field
// start changes becomes visible at one moment:
//  - REG_VIDEO_STATUS bit 5, the field indicator, is 0 during a first field
//    and 1 during a second field. It falls when a first field starts (the
//    moment TernCardWaitOddVSync returns) and rises when a second field
//    starts. Bit 7 tells whether the selected input has a signal.
//  - REG_FIELD_COUNT counts field starts (both parities, captured or not)
//    while the engine runs. Writing 0 clears it and holds it at 0 until the
//    engine leaves the sync at the program start (REG_PROGRAM_START); that
//    field counts as 1. So in a ring of field blocks the count says which
//    block is being filled: count - 1 = field starts since the ring's first
//    block began. In a two-frame ring (frame mode) the low two bits read 3
//    while the card fills the second frame's first field and 1 while it
//    fills the first frame's first field, whatever the phase of the start
//    and the moment the counter was cleared within the first pass; in the
//    single-field modes they read 3 and 1 at the start of the second and
//    first slot likewise.
//  - REG_PROGRAM_COUNTER is the address of the instruction executing, or of
//    the sync the engine waits at (the next block's sync once a block's
//    lines are done); it holds its last value when the engine stops and is
//    0 after a reset.
// The registers of the decoder are latched at each field start.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "lxmachine/hw/pci_function.h"
#include "lxmachine/hw/terncard/board_controller.h"
#include "lxmachine/hw/terncard/decoder.h"
#include "lxmachine/hw/terncard/dma_engine.h"
#include "lxmachine/hw/terncard/gpio.h"
#include "lxmachine/hw/terncard/i2c.h"
#include "lxmachine/hw/terncard/registers.h"
#include "lxmachine/hw/terncard/timing.h"
#include "lxmachine/hw/terncard/video_source.h"

namespace lxhw {
class PhysicalMemory;
}

namespace lxhw::tern {

struct TernCardSetup {
    bool signature = true;
    uint8_t revision = 0x21;
    uint8_t boardSwitch = 0;
    std::array<std::string, 4> sources{"none", "none", "none", "bars"};
    double clockFactor = 1.0;
    std::string serial = "TC0000000001";
};

class TernCard final : public PciFunction {
public:
    static constexpr int kInputs = 4;
    // The field thread wakes this many times per field to pace the lines.
    static constexpr uint32_t kSlicesPerField = 4;

    // `memory` is where the DMA engine reads programs and writes lines; null
    // makes every fetch fail. A source name that cannot be used leaves that
    // input with nothing connected; setupErrors() tells why (the kernel
    // refuses to boot a machine whose card reports any).
    TernCard(const TernCardSetup& setup, PhysicalMemory* memory);
    ~TernCard() override;

    std::string kind() const override { return "terncard"; }
    uint32_t barRead(int barIndex, uint64_t offset, unsigned size) override;
    void barWrite(int barIndex, uint64_t offset, unsigned size, uint32_t value) override;
    void powerOff() override;

    // What a person does to the card.
    bool setSource(int input, const std::string& name, std::string* error);
    std::string sourceName(int input) const;
    bool setBoardSwitch(uint32_t bits, std::string* error);
    uint8_t boardSwitch() const { return gpio_.boardSwitch(); }
    const std::string& setupErrors() const { return setupErrors_; }

    const BoardController& controller() const { return controller_; }

    // What the DMA engine is doing, for a person looking at the machine.
    struct EngineReport {
        bool running = false;
        uint32_t programStart = 0;    // where the engine starts (and jumps back to)
        uint32_t programCounter = 0;  // the instruction executing, or the sync waited at
        uint32_t errorBits = 0;       // interrupt-status bits 12 to 19
        uint32_t fieldCount = 0;      // fields counted since the engine passed its start
        uint64_t fieldNumber = 0;     // fields since power-on
    };
    EngineReport engineReport();
    uint64_t fieldNumber() const { return fieldNumber_.load(); }
    double clockFactor() const { return clock_.factor(); }

private:
    uint32_t read32(uint32_t offset);
    void write32(uint32_t offset, uint32_t value);
    void resetCard();
    void applyEnable();
    void updateInterrupt();
    RegisterSnapshot snapshot() const;
    std::shared_ptr<VideoSource> selectedSource(const RegisterSnapshot& regs) const;

    void fieldLoop();
    void beginField();
    void endField();
    uint32_t linesDue(uint32_t slice) const;
    void reportFault(uint32_t bits);
    bool busMaster() const;  // the engine reaches memory only while bus mastering is on

    MachineClock clock_;
    [[maybe_unused]] PhysicalMemory* const memory_;  // the DMA engine holds its own reference
    std::string setupErrors_;

    std::array<std::atomic<uint32_t>, kRegisterCells> regs_;
    std::atomic<uint32_t> intStatus_{0};
    std::mutex interruptMutex_;  // keeps the line's level in step with the status
    std::atomic<uint32_t> secondField_{0};
    std::array<std::atomic<bool>, kInputs> inputSignal_;

    mutable std::mutex sourcesMutex_;
    std::array<std::shared_ptr<VideoSource>, kInputs> sources_;

    BoardController controller_;
    I2cEngine i2c_;
    GpioLines gpio_;

    // Engine, renderer, counter and field state: the field thread's, shared
    // with register writes that start, stop or reset them.
    std::mutex engineMutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    DmaEngine engine_;
    FieldRenderer renderer_;
    std::atomic<uint32_t> fieldCount_{0};
    bool countAligned_ = false;
    std::atomic<uint64_t> fieldNumber_{0};
    std::atomic<uint64_t> fieldEndNs_{0};       // host CLOCK_MONOTONIC at the last field end
    std::atomic<uint32_t> latchedEndTimeHi_{0};  // high word as of the last low-word read
    std::thread fieldThread_;
};

// The card model behind a PCI function, or null when it is something else.
// (Resolved inside the hardware library, so callers in other modules need no RTTI of their own.)
TernCard* asTernCard(PciFunction* function);

}  // namespace lxhw::tern
