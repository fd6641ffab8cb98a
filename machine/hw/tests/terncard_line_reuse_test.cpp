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

TEST(TernCardLineReuse, EveryLineIsAsIfStoredAlone) {
    auto source = std::make_shared<MixedSource>();
    for (const testwindow::Format& format : testwindow::kFormats) {
        for (bool halfWidth : {false, true}) {
            SCOPED_TRACE("format " + std::to_string(format.code) + (halfWidth ? ", half width" : ""));
            const RegisterSnapshot regs = testwindow::window(VideoStandard::Pal, halfWidth, false, format);
            FieldRenderer reusing, alone;
            reusing.prepare(regs, source, 4);
            for (uint32_t j = 0; j < reusing.geometry().outLines; ++j) {
                const uint8_t* line = reusing.line(j);
                const std::vector<uint8_t> got(line, line + reusing.lineBytes());
                alone.prepare(regs, source, 4);  // a fresh field: nothing stored
                ASSERT_EQ(std::memcmp(got.data(), alone.line(j), got.size()), 0) << "line " << j;
            }
        }
    }
}

}  // namespace
}  // namespace lxhw::tern
