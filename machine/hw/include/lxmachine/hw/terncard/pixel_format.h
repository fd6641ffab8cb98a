// Pixel formats the card writes and the colour path that feeds them: the
// picture adjustments on Y, U and V (ITU-R BT.601 studio range), then the
// conversion to the selected format. Work is done by tables rebuilt only when
// a setting changes.
//
// Byte order in memory, pixel by pixel (little-endian words):
//   0x00 RGB8888  B, G, R, 0
//   0x11 RGB888   B, G, R
//   0x22 RGB565   16-bit word r5 g6 b5 (red in the high bits)
//   0x33 RGB555   16-bit word 0 r5 g5 b5
//   0x44 YUV422   per pair of pixels Y0, U, Y1, V (U and V of the even pixel)
//   0x66 grey     Y; REG_PIXEL_OPTIONS bit 7 set: full range 0..255,
//                 clear: studio range 16..235
// The low nibble selects the format; other nibbles write zero bytes, two per pixel.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace lxhw::tern {

enum class PixelFormat : uint8_t { Rgb32, Rgb24, Rgb565, Rgb555, Yuv422, Grey8, Reserved };

PixelFormat pixelFormatOf(uint32_t registerValue);
unsigned bytesPerPixel(PixelFormat format);

struct YuvSample {
    uint8_t y, u, v, unused;
};
static_assert(sizeof(YuvSample) == 4);

// What the adjustment registers say, already decoded.
struct PictureSettings {
    int brightness = 0;      // added to Y, -128..127
    int contrast = 256;      // luma gain x 256 (9 bits)
    int saturationU = 256;   // U gain x 256 (9 bits)
    int saturationV = 182;   // V gain x 181.4 (9 bits; the card's V reference is 0.7087 of U's)
    int hue = 0;             // -128..127, 128 steps = 90 degrees
    bool chroma = true;      // false: the chroma path carries nothing (grey picture)
    bool fullRangeGrey = true;
    PixelFormat format = PixelFormat::Yuv422;
    friend bool operator==(const PictureSettings&, const PictureSettings&) = default;
};

class ColourPipeline {
public:
    ColourPipeline();
    // Rebuilds the tables that changed settings feed.
    void configure(const PictureSettings& settings);
    const PictureSettings& settings() const { return settings_; }
    // Adjusts and converts samples into packed pixels: the pixel's bytes in a
    // little-endian word (YUV422: Y | U << 8 | V << 16, paired when stored).
    void convert(const YuvSample* in, size_t count, uint32_t* out) const;
    uint32_t convertOne(YuvSample s) const;

private:
    void rebuildLuma();
    void rebuildChroma();
    PictureSettings settings_;
    std::array<uint8_t, 256> luma_{};
    std::vector<uint16_t> chroma_;  // (u << 8 | v) -> u' | v' << 8
    std::array<int, 256> yTerm_{}, rv_{}, gu_{}, gv_{}, bu_{};
};

// Stores packed pixels picked by `index` as bytes of the format. Returns bytes written.
size_t storePixels(PixelFormat format, const uint32_t* packed, const uint32_t* index, size_t count, uint8_t* out);

}  // namespace lxhw::tern
