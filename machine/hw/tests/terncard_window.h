// Register settings of a whole-picture capture window, for model tests.
#pragma once

#include "lxmachine/hw/terncard/decoder.h"

namespace lxhw::tern::testwindow {

// A pixel format as the card's registers select it and as LxSetVideoFormat numbers it.
struct Format {
    uint32_t reg;
    bool fullRange;
    int code;
};
inline const Format kFormats[] = {{0x44, true, 0}, {0x11, true, 1}, {0x22, true, 2}, {0x33, true, 3},
                                  {0x00, true, 4}, {0x66, true, 5}, {0x66, false, 6}};

// A whole-picture window of the standard, 1:1 or 1:2 in either direction.
inline RegisterSnapshot window(VideoStandard standard, bool halfWidth, bool halfHeight, const Format& format) {
    const bool pal = standard == VideoStandard::Pal;
    const StandardTiming& t = timingOf(standard);
    const uint32_t width = halfWidth ? t.width / 2 : t.width;
    const int h = pal ? (halfWidth ? 5753 : 828) : (halfWidth ? 5461 : 682);
    int d = halfWidth ? (pal ? int(width * 186 * 768 / (t.width * 922)) : int(width * 0.1790451) & 0x3FE)
                      : int(t.horizontalStart);
    d = d / 2 * 2;
    const uint32_t vactive = t.frameLines, vdelay = t.firstActiveLine, v = halfHeight ? 0x1E00 : 0;
    RegisterSnapshot r = kInitialRegisters;
    for (uint32_t set : {0u, uint32_t{kSetB}}) {
        r[(kHighBitsA + set) / 4] =
            ((width >> 8) & 3) | ((d >> 8) & 3) << 2 | ((vactive >> 8) & 3) << 4 | ((vdelay >> 8) & 3) << 6;
        r[(kHActiveA + set) / 4] = width & 0xFF;
        r[(kHDelayA + set) / 4] = d & 0xFF;
        r[(kVActiveA + set) / 4] = vactive & 0xFF;
        r[(kVDelayA + set) / 4] = vdelay & 0xFF;
        r[(kHScaleHiA + set) / 4] = (h >> 8) & 0xFF;
        r[(kHScaleLoA + set) / 4] = h & 0xFF;
        r[(kVScaleHiA + set) / 4] = 0x20 | ((v >> 8) & 0x1F);
        r[(kVScaleLoA + set) / 4] = v & 0xFF;
    }
    r[kInputFormat / 4] = pal ? kFormatPal : kFormatNtsc;
    r[kPixelFormat / 4] = format.reg;
    r[kPixelOptions / 4] = format.fullRange ? 0x80 : 0;
    // Unit gains: contrast and U saturation 256 (bit 8 in the control register), V 182.
    r[kContrast / 4] = 0;
    r[kSatU / 4] = 0;
    r[kSatV / 4] = 182;
    r[kControlA / 4] = kControlContrastBit8 | kControlSatUBit8;
    return r;
}

}  // namespace lxhw::tern::testwindow
