// A renderer stores a line whose key it has just stored again only where a
// head may differ: every line must still come out as if stored alone.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "lxmachine/hw/terncard/decoder.h"
#include "terncard_window.h"

namespace lxhw::tern {
namespace {

// Two pictures under two keys, in runs of three lines, with a head on every
// other line drawn from the frame line, so runs of one key mix lines with
// and without heads, and heads of different lengths.
class MixedSource : public VideoSource {
public:
    MixedSource() {
        for (int k = 0; k < 2; ++k) {
            pictures_[k].resize(kPalTiming.width);
            for (uint32_t x = 0; x < kPalTiming.width; ++x)
                pictures_[k][x] = YuvSample{static_cast<uint8_t>(16 + (x * (3 + k)) % 220),
                                            static_cast<uint8_t>(64 + (x + 40 * k) % 128),
                                            static_cast<uint8_t>(200 - (x / 3 + k) % 128), 0};
        }
    }
    std::string name() const override { return "mixed"; }
    bool hasSignal() const override { return true; }
    SourceLine line(VideoStandard, uint64_t, uint32_t frameLine) override {
        const int k = (frameLine / 6) % 2;
        SourceLine line{pictures_[k].data(), uint64_t{100} + k};
        if ((frameLine / 2) % 2 == 0) {
            for (uint32_t x = 0; x < kMaxHeadSamples; ++x)
                head_[x] = YuvSample{static_cast<uint8_t>(((frameLine >> (x % 9)) & 1) ? 235 : 16), 128, 128, 0};
            line.head = head_;
            line.headSamples = 8 + frameLine % (kMaxHeadSamples - 7);
        }
        return line;
    }

private:
    std::vector<YuvSample> pictures_[2];
    YuvSample head_[kMaxHeadSamples];
};

// One renderer through fields, formats and windows: what it keeps from
// earlier lines and fields must never show.
TEST(TernCardLineReuse, EveryLineIsAsIfStoredAlone) {
    auto source = std::make_shared<MixedSource>();
    FieldRenderer reusing, alone;
    for (bool halfWidth : {false, true}) {
        for (const testwindow::Format& format : testwindow::kFormats) {
            const RegisterSnapshot regs = testwindow::window(VideoStandard::Pal, halfWidth, false, format);
            for (uint64_t field = 4; field < 7; ++field) {
                SCOPED_TRACE("format " + std::to_string(format.code) + (halfWidth ? ", half width" : "") + ", field " +
                             std::to_string(field));
                reusing.prepare(regs, source, field);
                // The source repeats every 12 frame lines; 40 field lines see every change.
                for (uint32_t j = 0; j < 40; ++j) {
                    const uint8_t* line = reusing.line(j);
                    const std::vector<uint8_t> got(line, line + reusing.lineBytes());
                    alone = FieldRenderer();  // nothing stored
                    alone.prepare(regs, source, field);
                    ASSERT_EQ(std::memcmp(got.data(), alone.line(j), got.size()), 0) << "line " << j;
                }
            }
        }
    }
}

// A picture that stays is stored once: its lines come back from the store
// in later fields, and a change of the brightness stores them anew.
TEST(TernCardLineReuse, StillPictureLinesAreKeptAcrossFieldsUntilTheSettingsChange) {
    auto source = std::make_shared<MixedSource>();
    RegisterSnapshot regs = testwindow::window(VideoStandard::Pal, false, false, testwindow::kFormats[4]);
    FieldRenderer renderer;
    renderer.prepare(regs, source, 4);
    const uint8_t* first = renderer.line(3);  // frame line 6: no head
    const std::vector<uint8_t> before(first, first + renderer.lineBytes());
    renderer.prepare(regs, source, 6);
    EXPECT_EQ(renderer.line(3), first) << "the same key in a later field is the stored line";
    regs[kBrightness / 4] = 70;
    renderer.prepare(regs, source, 8);
    const uint8_t* brighter = renderer.line(3);
    EXPECT_NE(std::memcmp(brighter, before.data(), before.size()), 0);
}

}  // namespace
}  // namespace lxhw::tern
