#include "lxmachine/hw/terncard/registers.h"

namespace lxhw::tern {

uint32_t storedBits(uint32_t offset) {
    switch (offset) {
    case kInputFormat: case kDecimation:
    case kHighBitsA: case kVDelayA: case kVActiveA: case kHDelayA: case kHActiveA: case kHScaleHiA: case kHScaleLoA:
    case kHighBitsB: case kVDelayB: case kVActiveB: case kHDelayB: case kHActiveB: case kHScaleHiB: case kHScaleLoB:
    case kBrightness: case kControlA: case kControlB: case kContrast: case kSatU: case kSatV: case kHue:
    case kAdcControlA: case kAdcControlB: case kPixelOptions: case kVScaleHiA: case kVScaleLoA: case kVScaleHiB:
    case kVScaleLoB: case kClampControl: case kAudioReset: case kTiming1: case kTiming2: case kSourceControl:
    case kSyncControl: case kPixelFormat: case kPixelControl: case kCaptureControl: case kDmaControl:
    case kClock1: case kClock2: case kClock3:
        return 0xFF;
    case kIntEnable: return 0xFFFFFFFF;
    case kI2c: return 0xFFFFFFFF;
    case kProgramStart: return 0xFFFFFFFC;
    case kGpioEnable: return 0x00FFFFFF;
    default: return 0;
    }
}

}  // namespace lxhw::tern
