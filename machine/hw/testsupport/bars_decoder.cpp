#include "bars_decoder.h"

#include <cmath>

#include "lxmachine/hw/terncard/bars_code.h"

namespace lxtest {

using lxhw::tern::PixelFormat;

int lumaAt(const CapturedField& f, uint32_t x, uint32_t line) {
    const uint8_t* p = f.pixels + static_cast<size_t>(line) * f.stride;
    auto rgbLuma = [](int r, int g, int b) { return (r * 77 + g * 150 + b * 29) >> 8; };
    switch (f.format) {
    case PixelFormat::Rgb32: return rgbLuma(p[4 * x + 2], p[4 * x + 1], p[4 * x]);
    case PixelFormat::Rgb24: return rgbLuma(p[3 * x + 2], p[3 * x + 1], p[3 * x]);
    case PixelFormat::Rgb565: {
        const int v = p[2 * x] | p[2 * x + 1] << 8;
        return rgbLuma((v >> 11) << 3, ((v >> 5) & 0x3F) << 2, (v & 0x1F) << 3);
    }
    case PixelFormat::Rgb555: {
        const int v = p[2 * x] | p[2 * x + 1] << 8;
        return rgbLuma(((v >> 10) & 0x1F) << 3, ((v >> 5) & 0x1F) << 3, (v & 0x1F) << 3);
    }
    case PixelFormat::Yuv422: return p[2 * x];  // Y0 U Y1 V: every pixel's Y sits at an even byte
    case PixelFormat::Grey8: return p[x];
    case PixelFormat::Reserved: return 0;
    }
    return 0;
}

std::optional<uint32_t> decodeFieldNumber(const CapturedField& f) {
    namespace bars = lxhw::tern::bars;
    if (!f.pixels || f.samplesPerPixel <= 0 || f.fieldLinesPerLine <= 0) return std::nullopt;
    const double centreLine = bars::kBandFirstFieldLine + bars::kBandFieldLines / 2.0;
    const long line = std::lround((centreLine - f.firstFieldLine) / f.fieldLinesPerLine);
    if (line < 0 || line >= static_cast<long>(f.lines)) return std::nullopt;
    uint32_t word = 0;
    for (uint32_t k = 0; k < bars::kBlocks; ++k) {
        const double centre = bars::kFirstBlockSample + (k + 0.5) * bars::kBlockSamples;
        const long x = std::lround((centre - f.firstSample) / f.samplesPerPixel);
        if (x < 0 || x >= static_cast<long>(f.width)) return std::nullopt;
        word = word << 1 | (lumaAt(f, static_cast<uint32_t>(x), static_cast<uint32_t>(line)) > 125 ? 1u : 0u);
    }
    if (!bars::codeWordValid(word)) return std::nullopt;
    return word >> 8;
}

}  // namespace lxtest
