#include "lxmachine/hw/terncard/pixel_format.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace lxhw::tern {
namespace {

constexpr double kVReference = 256.0 * 0.3937008 / 0.5555556;  // V gain 1.0 in register units
constexpr double kPi = 3.14159265358979323846;

uint8_t clip(int v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }

// std::lround for the tables' range without a library call: x - trunc(x) is
// exact, so halves go away from zero exactly as lround sends them.
int roundHalfAway(double x) {
    int t = static_cast<int>(x);
    const double fraction = x - t;
    if (fraction >= 0.5) {
        ++t;
    } else if (fraction <= -0.5) {
        --t;
    }
    return t;
}

}  // namespace

PixelFormat pixelFormatOf(uint32_t registerValue) {
    switch (registerValue & 0x0F) {
    case 0x0: return PixelFormat::Rgb32;
    case 0x1: return PixelFormat::Rgb24;
    case 0x2: return PixelFormat::Rgb565;
    case 0x3: return PixelFormat::Rgb555;
    case 0x4: return PixelFormat::Yuv422;
    case 0x6: return PixelFormat::Grey8;
    default: return PixelFormat::Reserved;
    }
}

unsigned bytesPerPixel(PixelFormat format) {
    switch (format) {
    case PixelFormat::Rgb32: return 4;
    case PixelFormat::Rgb24: return 3;
    case PixelFormat::Grey8: return 1;
    default: return 2;
    }
}

ColourPipeline::ColourPipeline() : chroma_(65536) {
    // BT.601 studio range to full-range RGB, 16.16 fixed point.
    for (int i = 0; i < 256; ++i) {
        yTerm_[i] = static_cast<int>(std::lround(1.164383 * (i - 16) * 65536.0)) + 32768;
        rv_[i] = static_cast<int>(std::lround(1.596027 * (i - 128) * 65536.0));
        gu_[i] = static_cast<int>(std::lround(-0.391762 * (i - 128) * 65536.0));
        gv_[i] = static_cast<int>(std::lround(-0.812968 * (i - 128) * 65536.0));
        bu_[i] = static_cast<int>(std::lround(2.017232 * (i - 128) * 65536.0));
    }
    rebuildLuma();
    rebuildChroma();
}

// Only the tables a changed setting feeds are made again: the chroma table
// (64 Ki entries) costs a millisecond, and a driver setting up the card
// changes the format, brightness and contrast in fields of their own.
void ColourPipeline::configure(const PictureSettings& settings) {
    if (settings == settings_) return;
    const PictureSettings before = settings_;
    settings_ = settings;
    if (settings.brightness != before.brightness || settings.contrast != before.contrast) rebuildLuma();
    if (settings.saturationU != before.saturationU || settings.saturationV != before.saturationV ||
        settings.hue != before.hue || settings.chroma != before.chroma)
        rebuildChroma();
}

void ColourPipeline::rebuildLuma() {
    const PictureSettings& s = settings_;
    for (int y = 0; y < 256; ++y) luma_[y] = clip(16 + ((y - 16) * s.contrast + 128) / 256 + s.brightness);
}

void ColourPipeline::rebuildChroma() {
    const PictureSettings& s = settings_;
    if (!s.chroma) {
        std::fill(chroma_.begin(), chroma_.end(), static_cast<uint16_t>(128 | 128 << 8));
        return;
    }
    const double gainU = s.saturationU / 256.0, gainV = s.saturationV / kVReference;
    if (s.hue == 0) {
        // No rotation (cos 1, sin 0 exactly): u' follows from u alone, v' from v.
        std::array<uint16_t, 256> us{}, vs{};
        for (int i = 0; i < 256; ++i) {
            us[i] = clip(roundHalfAway(128.0 + (i - 128.0) * gainU));
            vs[i] = static_cast<uint16_t>(clip(roundHalfAway(128.0 + (i - 128.0) * gainV)) << 8);
        }
        for (int u = 0; u < 256; ++u)
            for (int v = 0; v < 256; ++v) chroma_[u << 8 | v] = static_cast<uint16_t>(us[u] | vs[v]);
        return;
    }
    const double angle = s.hue * (kPi / 2.0) / 128.0;
    const double cosA = std::cos(angle), sinA = std::sin(angle);
    for (int u = 0; u < 256; ++u) {
        for (int v = 0; v < 256; ++v) {
            const double cu = u - 128.0, cv = v - 128.0;
            const int uo = clip(roundHalfAway(128.0 + (cu * cosA - cv * sinA) * gainU));
            const int vo = clip(roundHalfAway(128.0 + (cv * cosA + cu * sinA) * gainV));
            chroma_[u << 8 | v] = static_cast<uint16_t>(uo | vo << 8);
        }
    }
}

uint32_t ColourPipeline::convertOne(YuvSample in) const {
    const uint8_t y = luma_[in.y];
    const uint16_t uv = chroma_[in.u << 8 | in.v];
    const uint8_t u = static_cast<uint8_t>(uv), v = static_cast<uint8_t>(uv >> 8);
    switch (settings_.format) {
    case PixelFormat::Yuv422: return uint32_t{y} | uint32_t{u} << 8 | uint32_t{v} << 16;
    case PixelFormat::Grey8:
        if (settings_.fullRangeGrey) return clip((yTerm_[y]) >> 16);
        return std::clamp<uint32_t>(y, 16, 235);
    case PixelFormat::Reserved: return 0;
    default: break;
    }
    const uint32_t r = clip((yTerm_[y] + rv_[v]) >> 16);
    const uint32_t g = clip((yTerm_[y] + gu_[u] + gv_[v]) >> 16);
    const uint32_t b = clip((yTerm_[y] + bu_[u]) >> 16);
    switch (settings_.format) {
    case PixelFormat::Rgb565: return (r >> 3) << 11 | (g >> 2) << 5 | b >> 3;
    case PixelFormat::Rgb555: return (r >> 3) << 10 | (g >> 3) << 5 | b >> 3;
    default: return r << 16 | g << 8 | b;
    }
}

void ColourPipeline::convert(const YuvSample* in, size_t count, uint32_t* out) const {
    // The format is chosen once per line, not per pixel.
    auto rgbLoop = [&](auto pack) {
        for (size_t i = 0; i < count; ++i) {
            const int y = yTerm_[luma_[in[i].y]];
            const uint16_t uv = chroma_[in[i].u << 8 | in[i].v];
            const uint8_t u = static_cast<uint8_t>(uv), v = static_cast<uint8_t>(uv >> 8);
            out[i] = pack(uint32_t{clip((y + rv_[v]) >> 16)}, uint32_t{clip((y + gu_[u] + gv_[v]) >> 16)},
                          uint32_t{clip((y + bu_[u]) >> 16)});
        }
    };
    switch (settings_.format) {
    case PixelFormat::Rgb32:
    case PixelFormat::Rgb24:
        rgbLoop([](uint32_t r, uint32_t g, uint32_t b) { return r << 16 | g << 8 | b; });
        return;
    case PixelFormat::Rgb565:
        rgbLoop([](uint32_t r, uint32_t g, uint32_t b) { return (r >> 3) << 11 | (g >> 2) << 5 | b >> 3; });
        return;
    case PixelFormat::Rgb555:
        rgbLoop([](uint32_t r, uint32_t g, uint32_t b) { return (r >> 3) << 10 | (g >> 3) << 5 | b >> 3; });
        return;
    default:
        for (size_t i = 0; i < count; ++i) out[i] = convertOne(in[i]);
        return;
    }
}

size_t storePixels(PixelFormat format, const uint32_t* packed, const uint32_t* index, size_t count, uint8_t* out) {
    switch (format) {
    case PixelFormat::Rgb32:
        for (size_t i = 0; i < count; ++i) std::memcpy(out + 4 * i, &packed[index[i]], 4);
        return 4 * count;
    case PixelFormat::Rgb24:
        for (size_t i = 0; i < count; ++i) {
            const uint32_t p = packed[index[i]];
            out[3 * i] = static_cast<uint8_t>(p);
            out[3 * i + 1] = static_cast<uint8_t>(p >> 8);
            out[3 * i + 2] = static_cast<uint8_t>(p >> 16);
        }
        return 3 * count;
    case PixelFormat::Rgb565:
    case PixelFormat::Rgb555:
        for (size_t i = 0; i < count; ++i) {
            const uint16_t p = static_cast<uint16_t>(packed[index[i]]);
            std::memcpy(out + 2 * i, &p, 2);
        }
        return 2 * count;
    case PixelFormat::Grey8:
        for (size_t i = 0; i < count; ++i) out[i] = static_cast<uint8_t>(packed[index[i]]);
        return count;
    case PixelFormat::Yuv422:
        for (size_t i = 0; i < count; i += 2) {
            const uint32_t even = packed[index[i]];
            out[2 * i] = static_cast<uint8_t>(even);
            out[2 * i + 1] = static_cast<uint8_t>(even >> 8);
            if (i + 1 < count) {
                out[2 * i + 2] = static_cast<uint8_t>(packed[index[i + 1]]);
                out[2 * i + 3] = static_cast<uint8_t>(even >> 16);
            }
        }
        return 2 * count;
    case PixelFormat::Reserved:
        std::memset(out, 0, 2 * count);
        return 2 * count;
    }
    return 0;
}

}  // namespace lxhw::tern
