#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "bars_decoder.h"
#include "lxmachine/hw/terncard/decoder.h"

namespace lxhw::tern {
namespace {

RegisterSnapshot palRegisters(uint32_t width, uint32_t inWidth, uint32_t fieldLines, uint32_t outLines,
                              uint32_t format) {
    RegisterSnapshot r = kInitialRegisters;
    auto set = [&](uint32_t offset, uint32_t value) {
        r[offset / 4] = value;
        if (offset >= kHighBitsA && offset <= kHScaleLoA) r[(offset + kSetB) / 4] = value;
        if (offset == kVScaleHiA || offset == kVScaleLoA) r[(offset + kSetB) / 4] = value;
    };
    const float rx = float(inWidth) / float(width), ry = float(fieldLines) / float(outLines);
    const int h = rx == 1 ? 828 : rx == 2 ? 5753 : rx == 4 ? 15602 : int((rx * 1.2005209 - 1) * 4096);
    const int v = ry == 1 ? 0 : ry == 2 ? 0x1E00 : ry == 4 ? 0x1A00 : int(65536.0 - (ry - 1) * 512.0) & 0x1FFF;
    int d = rx == 1 ? 154 : int(width * 186 * 768 / (inWidth * 922));
    d = d / 2 * 2;
    const uint32_t vactive = 2 * fieldLines, vdelay = 32;
    set(kHighBitsA, ((width >> 8) & 3) | ((d >> 8) & 3) << 2 | ((vactive >> 8) & 3) << 4 | ((vdelay >> 8) & 3) << 6);
    set(kHActiveA, width & 0xFF);
    set(kHDelayA, d & 0xFF);
    set(kVActiveA, vactive & 0xFF);
    set(kVDelayA, vdelay);
    set(kHScaleHiA, (h >> 8) & 0xFF);
    set(kHScaleLoA, h & 0xFF);
    set(kVScaleHiA, 0x20 | ((v >> 8) & 0x1F));
    set(kVScaleLoA, v & 0xFF);
    set(kInputFormat, kFormatPal);
    set(kPixelFormat, format);
    set(kContrast, 0);  // 2 x 128 with bit 8 in the control register
    set(kControlA, kControlContrastBit8 | kControlSatUBit8);
    set(kSatU, 0);
    set(kSatV, 182);
    return r;
}

TEST(TernCardPicture, WindowsProgrammedByTheDriverReadBackAsMeant) {
    // PAL 768 -> 384: scale 5753, base delay 76, no crop.
    FieldGeometry g = geometryOf(palRegisters(384, 768, 288, 144, 0x00), false);
    EXPECT_EQ(g.outWidth, 384u);
    EXPECT_EQ(g.inWidth, 768u);
    EXPECT_EQ(g.x0, 0);
    EXPECT_EQ(g.outLines, 144u);
    EXPECT_EQ(g.y0, 0);
    // The default window 768 x 288 -> 640 x 240 covers the whole picture.
    g = geometryOf(palRegisters(640, 768, 288, 240, 0x00), true);
    EXPECT_EQ(g.inWidth, 768u);
    EXPECT_EQ(g.x0, 0);
    EXPECT_EQ(g.outLines, 240u);
    // NTSC 640 -> 320 with the driver's constants.
    RegisterSnapshot ntsc = palRegisters(320, 640, 240, 120, 0x00);
    ntsc[kInputFormat / 4] = kFormatNtsc;
    ntsc[kHScaleHiA / 4] = 5461 >> 8;
    ntsc[kHScaleLoA / 4] = 5461 & 0xFF;
    ntsc[kHDelayA / 4] = 56;
    ntsc[kVDelayA / 4] = 26 + 2 * 10;
    g = geometryOf(ntsc, false);
    EXPECT_EQ(g.standard, VideoStandard::Ntsc);
    EXPECT_EQ(g.inWidth, 640u);
    EXPECT_EQ(g.x0, 0);
    EXPECT_EQ(g.y0, 10);
}

struct FormatCase {
    uint32_t reg;
    bool fullRange;
    std::vector<int> expected;  // bytes of two white pixels
};

TEST(TernCardPicture, PixelFormatsByteOrder) {
    // Bars: samples 0..95 are the white bar at field 0; a 1:1 window of 8 pixels there.
    auto source = std::shared_ptr<VideoSource>(makeBarsSource());
    const std::vector<FormatCase> white{
        {0x00, true, {0xFF, 0xFF, 0xFF, 0x00, 0xFF, 0xFF, 0xFF, 0x00}},
        {0x11, true, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        {0x22, true, {0xFF, 0xFF, 0xFF, 0xFF}},
        {0x33, true, {0xFF, 0x7F, 0xFF, 0x7F}},
        {0x44, true, {235, 128, 235, 128}},
        {0x66, true, {255, 255}},
        {0x66, false, {235, 235}},
    };
    for (const FormatCase& c : white) {
        RegisterSnapshot r = palRegisters(8, 8, 288, 288, c.reg);
        r[kPixelOptions / 4] = c.fullRange ? 0x80 : 0;
        FieldRenderer renderer;
        renderer.prepare(r, source, 0);
        const uint8_t* line = renderer.line(100);
        ASSERT_GE(renderer.lineBytes(), c.expected.size());
        for (size_t i = 0; i < c.expected.size(); ++i) EXPECT_EQ(line[i], c.expected[i]) << std::hex << c.reg << " byte " << i;
    }
    // Red (the sixth bar, samples 480..575): the red channel in the high bits.
    RegisterSnapshot r = palRegisters(8, 8, 288, 288, 0x00);
    r[kHDelayA / 4] = (154 + 500) & 0xFF;
    r[kHighBitsA / 4] |= ((154 + 500) >> 8) << 2;
    FieldRenderer renderer;
    renderer.prepare(r, source, 0);
    const uint8_t* px = renderer.line(100);
    EXPECT_LE(px[0], 3);      // blue
    EXPECT_LE(px[1], 3);      // green
    EXPECT_GE(px[2], 0xFC);   // red
    EXPECT_EQ(px[3], 0);
    r[kPixelFormat / 4] = 0x22;
    renderer.prepare(r, source, 0);
    const uint16_t rgb565 = uint16_t(renderer.line(100)[0] | renderer.line(100)[1] << 8);
    EXPECT_EQ(rgb565 >> 11, 0x1F);
    EXPECT_LE(rgb565 & 0x7FF, 0x40);
    r[kPixelFormat / 4] = 0x44;
    renderer.prepare(r, source, 0);
    px = renderer.line(100);
    EXPECT_NEAR(px[0], 81, 1);   // Y
    EXPECT_NEAR(px[1], 90, 1);   // U
    EXPECT_NEAR(px[3], 240, 1);  // V
}

TEST(TernCardPicture, AdjustmentsChangeThePixels) {
    auto source = std::shared_ptr<VideoSource>(makeBarsSource());
    RegisterSnapshot r = palRegisters(8, 8, 288, 288, 0x44);
    r[kHDelayA / 4] = (154 + 500) & 0xFF;  // red bar
    r[kHighBitsA / 4] |= ((154 + 500) >> 8) << 2;
    FieldRenderer renderer;
    renderer.prepare(r, source, 0);
    const std::vector<uint8_t> plain(renderer.line(100), renderer.line(100) + 4);
    r[kBrightness / 4] = 20;
    renderer.prepare(r, source, 0);
    EXPECT_EQ(renderer.line(100)[0], plain[0] + 20);
    r[kBrightness / 4] = 0;
    r[kControlA / 4] |= kControlSeparateChroma;  // chroma input selected, converter not switched
    renderer.prepare(r, source, 0);
    EXPECT_EQ(renderer.line(100)[1], 128);
    EXPECT_EQ(renderer.line(100)[3], 128);
    r[kSourceControl / 4] &= ~kSourceCompositeChroma;
    renderer.prepare(r, source, 0);
    EXPECT_EQ(renderer.line(100)[3], plain[3]);
    r[kHue / 4] = 64;  // 45 degrees
    renderer.prepare(r, source, 0);
    EXPECT_NE(renderer.line(100)[1], plain[1]);
}

TEST(TernCardPicture, BarsFieldCodeSurvivesQuarterScalingInEveryFormat) {
    auto source = std::shared_ptr<VideoSource>(makeBarsSource());
    for (uint32_t format : {0x00u, 0x11u, 0x22u, 0x33u, 0x44u, 0x66u}) {
        for (uint64_t field : {uint64_t{0}, uint64_t{1}, uint64_t{12345}, uint64_t{0xFFFFFF}, uint64_t{0x1000003}}) {
            RegisterSnapshot r = palRegisters(192, 768, 288, 72, format);
            FieldRenderer renderer;
            renderer.prepare(r, source, field);
            std::vector<uint8_t> picture(size_t{renderer.lineBytes()} * 72);
            for (uint32_t j = 0; j < 72; ++j)
                std::memcpy(&picture[size_t{j} * renderer.lineBytes()], renderer.line(j), renderer.lineBytes());
            lxtest::CapturedField f;
            f.pixels = picture.data();
            f.width = 192;
            f.lines = 72;
            f.stride = renderer.lineBytes();
            f.format = pixelFormatOf(format);
            f.samplesPerPixel = 4;
            f.fieldLinesPerLine = 4;
            auto number = lxtest::decodeFieldNumber(f);
            ASSERT_TRUE(number) << "format " << std::hex << format;
            EXPECT_EQ(*number, field & 0xFFFFFF);
            // Quarter scaling in one direction only.
            r = palRegisters(192, 768, 288, 288, format);
            renderer.prepare(r, source, field);
            std::vector<uint8_t> tall(size_t{renderer.lineBytes()} * 288);
            for (uint32_t j = 0; j < 288; ++j)
                std::memcpy(&tall[size_t{j} * renderer.lineBytes()], renderer.line(j), renderer.lineBytes());
            f.pixels = tall.data();
            f.lines = 288;
            f.fieldLinesPerLine = 1;
            number = lxtest::decodeFieldNumber(f);
            ASSERT_TRUE(number);
            EXPECT_EQ(*number, field & 0xFFFFFF);
        }
    }
    // A damaged code is refused rather than misread.
    RegisterSnapshot r = palRegisters(768, 768, 288, 288, 0x66);
    FieldRenderer renderer;
    renderer.prepare(r, source, 77);
    std::vector<uint8_t> picture(768 * 288);
    for (uint32_t j = 0; j < 288; ++j) std::memcpy(&picture[j * 768], renderer.line(j), 768);
    lxtest::CapturedField f{picture.data(), 768, 288, 768, PixelFormat::Grey8};
    EXPECT_EQ(lxtest::decodeFieldNumber(f), 77u);
    for (uint32_t j = 0; j < 288; ++j) picture[j * 768 + 72 + 16 * 31] ^= 0xFF;  // flip the last block
    EXPECT_FALSE(lxtest::decodeFieldNumber(f));
}

// The adjusted Y, U and V of every sample as the reference formulas round
// them (std::lround), through settings changed one at a time, as a driver
// changes them: each change must leave every table as a fresh one.
TEST(TernCardPicture, AdjustedSamplesMatchTheReferenceForEveryValue) {
    struct Case {
        int brightness, contrast, satU, satV, hue;
        bool chroma;
    };
    const Case cases[] = {{0, 256, 256, 182, 0, true},    {20, 256, 256, 182, 0, true},  {20, 300, 300, 150, 0, true},
                          {20, 300, 511, 511, 0, true},   {-5, 200, 256, 182, 37, true}, {-5, 200, 400, 90, -100, true},
                          {-5, 200, 400, 90, 127, true},  {-5, 200, 400, 90, 127, false}, {0, 256, 0, 0, 0, true}};
    const double vReference = 256.0 * 0.3937008 / 0.5555556;
    auto clip = [](long v) { return static_cast<uint32_t>(std::clamp<long>(v, 0, 255)); };
    ColourPipeline pipeline;
    PictureSettings s;
    s.format = PixelFormat::Yuv422;
    for (const Case& c : cases) {
        s.brightness = c.brightness;
        s.contrast = c.contrast;
        s.saturationU = c.satU;
        s.saturationV = c.satV;
        s.hue = c.hue;
        s.chroma = c.chroma;
        pipeline.configure(s);
        SCOPED_TRACE("brightness " + std::to_string(c.brightness) + ", hue " + std::to_string(c.hue) + ", saturation " +
                     std::to_string(c.satU) + "/" + std::to_string(c.satV));
        const double angle = c.hue * (3.14159265358979323846 / 2.0) / 128.0;
        const double cosA = std::cos(angle), sinA = std::sin(angle);
        for (int u = 0; u < 256; ++u) {
            for (int v = 0; v < 256; ++v) {
                const int y = (u * 7 + v) & 0xFF;
                const double cu = u - 128.0, cv = v - 128.0;
                const uint32_t yo = clip(16 + ((y - 16) * c.contrast + 128) / 256 + c.brightness);
                const uint32_t uo = c.chroma ? clip(std::lround(128.0 + (cu * cosA - cv * sinA) * c.satU / 256.0)) : 128;
                const uint32_t vo = c.chroma ? clip(std::lround(128.0 + (cv * cosA + cu * sinA) * (c.satV / vReference))) : 128;
                const uint32_t got = pipeline.convertOne(
                    YuvSample{static_cast<uint8_t>(y), static_cast<uint8_t>(u), static_cast<uint8_t>(v), 0});
                ASSERT_EQ(got, yo | uo << 8 | vo << 16) << "y " << y << ", u " << u << ", v " << v;
            }
        }
    }
}

}  // namespace
}  // namespace lxhw::tern
