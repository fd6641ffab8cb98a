#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "bars_decoder.h"
#include "line_stamp.h"
#include "lxmachine/hw/terncard/decoder.h"
#include "lxmachine/hw/terncard/line_stamp_code.h"
#include "lxmachine/stamp_source_name.h"
#include "terncard_window.h"

namespace lxhw::tern {
namespace {

using testwindow::Format;
using testwindow::kFormats;
using testwindow::window;

// The lines of one rendered field, one after the other.
struct Field {
    std::vector<uint8_t> bytes;
    uint32_t lineBytes = 0, width = 0, lines = 0;
    const uint8_t* line(uint32_t j) const { return &bytes[size_t{j} * lineBytes]; }
};

Field render(const RegisterSnapshot& regs, const std::shared_ptr<VideoSource>& source, uint64_t fieldNumber) {
    FieldRenderer renderer;
    renderer.prepare(regs, source, fieldNumber);
    Field f;
    f.lineBytes = renderer.lineBytes();
    f.width = renderer.geometry().outWidth;
    f.lines = renderer.geometry().outLines;
    f.bytes.resize(size_t{f.lineBytes} * f.lines);
    for (uint32_t j = 0; j < f.lines; ++j) std::memcpy(&f.bytes[size_t{j} * f.lineBytes], renderer.line(j), f.lineBytes);
    return f;
}

TEST(TernCardStamp, EveryLineOfEveryFieldDecodesInEveryFormat) {
    std::string error;
    std::shared_ptr<VideoSource> source = makeVideoSource("stamp:201", &error);
    ASSERT_TRUE(source) << error;
    for (const Format& format : kFormats) {
        for (uint64_t number : {uint64_t{0}, uint64_t{1}, uint64_t{12345}, uint64_t{0xFFFFFF}, uint64_t{0x1000002}}) {
            SCOPED_TRACE("format " + std::to_string(format.code) + ", field " + std::to_string(number));
            const Field f = render(window(VideoStandard::Pal, false, false, format), source, number);
            ASSERT_EQ(f.lines, 288u);
            for (uint32_t j = 0; j < f.lines; ++j) {
                const auto stamp = lxtest::decodeLineStamp(f.line(j), static_cast<int>(f.width), format.code);
                ASSERT_TRUE(stamp) << "line " << j;
                EXPECT_EQ(stamp->field, number & 0xFFFFFF);
                EXPECT_EQ(stamp->secondField, (number & 1) == 1);
                EXPECT_EQ(stamp->sourceId, 201);
                ASSERT_EQ(stamp->frameLine, 2 * j + (number & 1)) << "line " << j;
            }
            // The bars' field code is still there and agrees.
            lxtest::CapturedField bars{f.bytes.data(), f.width, f.lines, f.lineBytes, pixelFormatOf(format.reg)};
            EXPECT_EQ(lxtest::decodeFieldNumber(bars), number & 0xFFFFFF);
        }
    }
}

TEST(TernCardStamp, NtscAndVerticalScalingNameTheFrameLineShown) {
    std::shared_ptr<VideoSource> source = makeStampSource(7);
    const Format grey = kFormats[5];
    Field f = render(window(VideoStandard::Ntsc, false, false, grey), source, 41);
    ASSERT_EQ(f.lines, 240u);
    for (uint32_t j = 0; j < f.lines; ++j) {
        const auto stamp = lxtest::decodeLineStamp(f.line(j), static_cast<int>(f.width), grey.code);
        ASSERT_TRUE(stamp) << "line " << j;
        EXPECT_EQ(stamp->frameLine, 2 * j + 1);
        EXPECT_EQ(stamp->sourceId, 7);
    }
    // Half the lines: output line j shows field line 2j.
    f = render(window(VideoStandard::Pal, false, true, grey), source, 40);
    ASSERT_EQ(f.lines, 144u);
    for (uint32_t j = 0; j < f.lines; ++j) {
        const auto stamp = lxtest::decodeLineStamp(f.line(j), static_cast<int>(f.width), grey.code);
        ASSERT_TRUE(stamp) << "line " << j;
        EXPECT_EQ(stamp->frameLine, 4 * j);
        EXPECT_FALSE(stamp->secondField);
    }
}

TEST(TernCardStamp, StampReplacesOnlyTheFirst64SamplesOfTheBars) {
    std::shared_ptr<VideoSource> stamped = makeStampSource(0);
    std::shared_ptr<VideoSource> bars = makeBarsSource();
    const Format rgb = kFormats[4];
    const RegisterSnapshot regs = window(VideoStandard::Pal, false, false, rgb);
    // Twice from one renderer: a stamped line must not leave its stamp in a bars line.
    FieldRenderer renderer;
    for (int round = 0; round < 2; ++round) {
        renderer.prepare(regs, stamped, 6);
        const std::vector<uint8_t> withStamp(renderer.line(100), renderer.line(100) + renderer.lineBytes());
        renderer.prepare(regs, bars, 6);
        const std::vector<uint8_t> plain(renderer.line(100), renderer.line(100) + renderer.lineBytes());
        ASSERT_EQ(plain.size(), 768u * 4);
        EXPECT_EQ(std::memcmp(&withStamp[64 * 4], &plain[64 * 4], plain.size() - 64 * 4), 0);
        EXPECT_NE(std::memcmp(withStamp.data(), plain.data(), 64 * 4), 0);
        for (uint32_t x = 0; x < 64; ++x) {
            ASSERT_EQ(plain[4 * x + 2], 0xFF) << "the white bar at pixel " << x;
            const uint8_t level = withStamp[4 * x + 1];
            ASSERT_TRUE(level == 0x00 || level == 0xFF) << "stamp pixel " << x << " is " << int(level);
        }
    }
}

TEST(TernCardStamp, DamagedScaledOrShortLinesAreRefused) {
    std::shared_ptr<VideoSource> source = makeStampSource(3);
    const Format grey = kFormats[5];
    Field f = render(window(VideoStandard::Pal, false, false, grey), source, 99);
    std::vector<uint8_t> line(f.line(17), f.line(17) + f.lineBytes);
    ASSERT_TRUE(lxtest::decodeLineStamp(line.data(), 768, grey.code));
    // Any one bit turned over fails the sync or the check.
    for (uint32_t k = 0; k < 64; ++k) {
        line[k] ^= 0xFF;
        EXPECT_FALSE(lxtest::decodeLineStamp(line.data(), 768, grey.code)) << "bit at pixel " << k;
        line[k] ^= 0xFF;
    }
    EXPECT_FALSE(lxtest::decodeLineStamp(line.data(), 63, grey.code));
    EXPECT_FALSE(lxtest::decodeLineStamp(line.data(), 768, 7));
    EXPECT_FALSE(lxtest::decodeLineStamp(line.data(), 768, -1));
    EXPECT_FALSE(lxtest::decodeLineStamp(nullptr, 768, grey.code));
    std::vector<uint8_t> flat(768, 200);
    EXPECT_FALSE(lxtest::decodeLineStamp(flat.data(), 768, grey.code));
    // Half the width: the samples pass two at a time, and no line decodes.
    f = render(window(VideoStandard::Pal, true, false, grey), source, 99);
    ASSERT_EQ(f.width, 384u);
    for (uint32_t j = 0; j < f.lines; ++j)
        ASSERT_FALSE(lxtest::decodeLineStamp(f.line(j), static_cast<int>(f.width), grey.code)) << "line " << j;
}

TEST(TernCardStamp, AdjustedPictureStillDecodes) {
    std::shared_ptr<VideoSource> source = makeStampSource(9);
    for (const Format& format : {kFormats[0], kFormats[4], kFormats[6]}) {
        RegisterSnapshot regs = window(VideoStandard::Pal, false, false, format);
        regs[kBrightness / 4] = 70;  // brighter
        regs[kContrast / 4] = 0x60;  // and flatter (0.375 of the luma range)
        regs[kControlA / 4] &= ~kControlContrastBit8;
        const Field f = render(regs, source, 8);
        const auto stamp = lxtest::decodeLineStamp(f.line(5), static_cast<int>(f.width), format.code);
        ASSERT_TRUE(stamp) << "format " << format.code;
        EXPECT_EQ(stamp->frameLine, 10);
        EXPECT_EQ(stamp->field, 8u);
    }
}

TEST(TernCardStamp, NamesCarryTheSourceId) {
    EXPECT_EQ(lxm::stampSourceId("stamp"), 0);
    EXPECT_EQ(lxm::stampSourceId("stamp:0"), 0);
    EXPECT_EQ(lxm::stampSourceId("stamp:255"), 255);
    EXPECT_EQ(lxm::stampSourceId("stamp:017"), 17);
    for (const char* bad : {"stamp:", "stamp:256", "stamp:1000", "stamp:-1", "stamp:+1", "stamp:1a", "stamp:0x1",
                            "stamps", "stamp 1", "Stamp", "bars"})
        EXPECT_FALSE(lxm::stampSourceId(bad)) << bad;
    std::string error;
    auto source = makeVideoSource("stamp:255", &error);
    ASSERT_TRUE(source) << error;
    EXPECT_EQ(source->name(), "stamp:255");
    EXPECT_TRUE(source->hasSignal());
    source = makeVideoSource("stamp", &error);
    ASSERT_TRUE(source);
    EXPECT_EQ(source->name(), "stamp:0");
    EXPECT_FALSE(makeVideoSource("stamp:256", &error));
    EXPECT_NE(error.find("stamp:256"), std::string::npos);
}

}  // namespace
}  // namespace lxhw::tern
