#include "line_stamp.h"

#include <algorithm>
#include <array>

#include "lxmachine/hw/terncard/line_stamp_code.h"

namespace lxtest {
namespace {

namespace stamp = lxhw::tern::stamp;

// Less than this between the darkest and the brightest pixel is no code:
// the stamp's levels lie about 220 apart in every format.
constexpr int kMinimumSwing = 64;

int rgbLuma(int r, int g, int b) { return (r * 77 + g * 150 + b * 29) >> 8; }

// Luma (0..255) of pixel x; -1 for a format code that is not one.
int lumaOf(const uint8_t* p, uint32_t x, int format) {
    switch (format) {
    case 0: return p[2 * x];  // Y0 U Y1 V: every pixel's Y sits at an even byte
    case 1: return rgbLuma(p[3 * x + 2], p[3 * x + 1], p[3 * x]);
    case 2: {
        const int v = p[2 * x] | p[2 * x + 1] << 8;
        return rgbLuma((v >> 11) << 3, ((v >> 5) & 0x3F) << 2, (v & 0x1F) << 3);
    }
    case 3: {
        const int v = p[2 * x] | p[2 * x + 1] << 8;
        return rgbLuma(((v >> 10) & 0x1F) << 3, ((v >> 5) & 0x1F) << 3, (v & 0x1F) << 3);
    }
    case 4: return rgbLuma(p[4 * x + 2], p[4 * x + 1], p[4 * x]);
    case 5:
    case 6: return p[x];
    default: return -1;
    }
}

}  // namespace

std::optional<LineStamp> decodeLineStamp(const void* pixels, int widthPixels, int pixelFormat) {
    if (!pixels || widthPixels < static_cast<int>(stamp::kSamples) || pixelFormat < 0 || pixelFormat > 6)
        return std::nullopt;
    const auto* p = static_cast<const uint8_t*>(pixels);
    std::array<int, stamp::kSamples> luma{};
    for (uint32_t k = 0; k < stamp::kSamples; ++k) luma[k] = lumaOf(p, k, pixelFormat);
    const auto [darkest, brightest] = std::minmax_element(luma.begin(), luma.end());
    if (*brightest - *darkest < kMinimumSwing) return std::nullopt;
    const int threshold = (*brightest + *darkest) / 2;
    uint64_t word = 0;
    for (int l : luma) word = word << 1 | (l > threshold ? 1u : 0u);
    const auto fields = stamp::fieldsOf(word);
    if (!fields) return std::nullopt;
    return LineStamp{fields->fieldNumber, fields->secondField, fields->sourceId, fields->frameLine};
}

}  // namespace lxtest
