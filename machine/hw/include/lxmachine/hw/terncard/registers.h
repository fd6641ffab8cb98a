// Register window of the TernCard capture card (BAR 0, 4 KiB, 32-bit
// registers). Offsets, the bits the model gives meaning to, and the values
// the registers take after a reset.
#pragma once

#include <array>
#include <cstdint>

namespace lxhw::tern {

constexpr uint64_t kRegisterWindowSize = 0x1000;

enum Reg : uint32_t {
    kVideoStatus = 0x000,
    kInputFormat = 0x004,
    kDecimation = 0x008,
    kHighBitsA = 0x00C,
    kVDelayA = 0x010,
    kVActiveA = 0x014,
    kHDelayA = 0x018,
    kHActiveA = 0x01C,
    kHScaleHiA = 0x020,
    kHScaleLoA = 0x024,
    kBrightness = 0x028,
    kControlA = 0x02C,
    kContrast = 0x030,
    kSatU = 0x034,
    kSatV = 0x038,
    kHue = 0x03C,
    kAdcControlA = 0x040,  // reset value only
    kPixelOptions = 0x048,
    kVScaleHiA = 0x04C,
    kVScaleLoA = 0x050,
    kClampControl = 0x054,  // reset value only
    kAudioReset = 0x058,
    kTiming1 = 0x060,
    kTiming2 = 0x064,
    kSourceControl = 0x068,
    kReset = 0x07C,
    kSyncControl = 0x084,
    kSetB = 0x080,  // the second field's geometry set lies this far above the first's
    kHighBitsB = 0x08C,
    kVDelayB = 0x090,
    kVActiveB = 0x094,
    kHDelayB = 0x098,
    kHActiveB = 0x09C,
    kHScaleHiB = 0x0A0,
    kHScaleLoB = 0x0A4,
    kControlB = 0x0AC,
    kAdcControlB = 0x0C0,  // reset value only
    kVScaleHiB = 0x0CC,
    kVScaleLoB = 0x0D0,
    kPixelFormat = 0x0D4,
    kPixelControl = 0x0D8,  // reset value only
    kCaptureControl = 0x0DC,
    // The card's field clock: the host's CLOCK_MONOTONIC in nanoseconds at the
    // end of the last field, latched whole when the low word is read.
    kFieldEndTimeLo = 0x0E0,
    kFieldEndTimeHi = 0x0E4,
    kFieldCount = 0x0E8,
    kClock1 = 0x0F0,
    kClock2 = 0x0F4,
    kClock3 = 0x0F8,
    kIntStatus = 0x100,
    kIntEnable = 0x104,
    kDmaControl = 0x10C,
    kI2c = 0x110,
    kProgramStart = 0x114,
    kGpioEnable = 0x118,
    kProgramCounter = 0x120,
    kGpioData = 0x200,
};

// Cells 0..71 hold the registers at offsets 0x000..0x11C.
constexpr uint32_t kRegisterCells = 72;

// REG_VIDEO_STATUS
constexpr uint32_t kStatusSignalPresent = 1u << 7;
constexpr uint32_t kStatusSecondField = 1u << 5;

// REG_INPUT_FORMAT
constexpr uint32_t kFormatStandardMask = 0x07;
constexpr uint32_t kFormatNtsc = 1;
constexpr uint32_t kFormatPal = 3;
constexpr uint32_t kFormatMuxShift = 5;
constexpr uint32_t kFormatMuxMask = 0x60;

// REG_CONTROL_A/B and REG_SOURCE_CONTROL
constexpr uint32_t kControlSeparateChroma = 1u << 6;
constexpr uint32_t kControlContrastBit8 = 1u << 2;
constexpr uint32_t kControlSatUBit8 = 1u << 1;
constexpr uint32_t kControlSatVBit8 = 1u << 0;
constexpr uint32_t kSourceCompositeChroma = 1u << 1;

// REG_PIXEL_OPTIONS
constexpr uint32_t kPixelOptionsFullRange = 1u << 7;

// REG_INT_STATUS (write ones to clear); the line is asserted while
// INT_STATUS & INT_ENABLE is not zero.
constexpr uint32_t kIntFieldStart = 1u << 0;
constexpr uint32_t kIntI2cDone = 1u << 8;
constexpr uint32_t kIntDmaBadOpcode = 1u << 12;     // unknown instruction
constexpr uint32_t kIntDmaFetchFault = 1u << 13;    // program outside memory or misaligned
constexpr uint32_t kIntDmaWriteFault = 1u << 14;    // line target outside memory
constexpr uint32_t kIntDmaSyncMissing = 1u << 15;   // a field's worth of program without a sync
constexpr uint32_t kIntDmaErrors = 0x000FF000;
constexpr uint32_t kIntI2cAck = 1u << 25;

// REG_CAPTURE_CONTROL and REG_DMA_CONTROL: the engine runs while both hold 3.
constexpr uint32_t kEnableBits = 0x3;

constexpr std::array<uint32_t, kRegisterCells> makeInitialRegisters() {
    std::array<uint32_t, kRegisterCells> t{};
    t[kAdcControlA / 4] = 0x60;
    t[kPixelOptions / 4] = 0x80;
    t[kVScaleHiA / 4] = 0x60;
    t[kClampControl / 4] = 0x01;
    t[kTiming1 / 4] = 0x70;
    t[kTiming2 / 4] = 0x5D;
    t[kSourceControl / 4] = 0x82;
    t[kAdcControlB / 4] = 0x60;
    t[kVScaleHiB / 4] = 0x60;
    t[kPixelFormat / 4] = 0x44;
    t[kPixelControl / 4] = 0x10;
    t[kClock1 / 4] = 0xF5;
    t[kClock2 / 4] = 0xAF;
    t[kClock3 / 4] = 0x89;
    t[kI2c / 4] = 0x03;
    return t;
}
inline constexpr std::array<uint32_t, kRegisterCells> kInitialRegisters = makeInitialRegisters();

// Bits a write keeps in a plain stored register; 0 for offsets that hold nothing.
uint32_t storedBits(uint32_t offset);

}  // namespace lxhw::tern
