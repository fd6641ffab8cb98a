// Moving colour bars: eight 100% bars (white, yellow, cyan, green, magenta,
// red, blue, black) that shift left every field, with the field number's
// block code across the top (bars_code.h).
#include <array>
#include <cmath>
#include <vector>

#include "lxmachine/hw/terncard/bars_code.h"
#include "lxmachine/hw/terncard/video_source.h"

namespace lxhw::tern {
namespace {

YuvSample fromRgb(double r, double g, double b) {
    auto c = [](double v) { return static_cast<uint8_t>(std::lround(v)); };
    return YuvSample{c(16 + 65.481 * r + 128.553 * g + 24.966 * b), c(128 - 37.797 * r - 74.203 * g + 112.0 * b),
                     c(128 + 112.0 * r - 93.786 * g - 18.214 * b), 0};
}

constexpr YuvSample kWhite{235, 128, 128, 0};
constexpr YuvSample kBlack{16, 128, 128, 0};

class BarsSource final : public VideoSource {
public:
    std::string name() const override { return "bars"; }
    bool hasSignal() const override { return true; }

    SourceLine line(VideoStandard standard, uint64_t fieldNumber, uint32_t frameLine) override {
        Pattern& p = pattern(standard);
        const uint32_t width = timingOf(standard).width;
        const uint32_t fieldLine = frameLine / 2;
        if (fieldLine >= bars::kBandFirstFieldLine && fieldLine < bars::kBandFirstFieldLine + bars::kBandFieldLines) {
            const uint32_t word = bars::codeWord(fieldNumber);
            if (!p.bandValid || p.bandWord != word) {
                std::fill(p.band.begin(), p.band.end(), kBlack);
                for (uint32_t k = 0; k < bars::kBlocks; ++k) {
                    const YuvSample s = (word >> (31 - k)) & 1 ? kWhite : kBlack;
                    const uint32_t x0 = bars::kFirstBlockSample + k * bars::kBlockSamples;
                    for (uint32_t x = x0; x < x0 + bars::kBlockSamples && x < width; ++x) p.band[x] = s;
                }
                p.bandWord = word;
                p.bandValid = true;
            }
            return SourceLine{p.band.data(), uint64_t{2} << 32 | word};
        }
        const uint32_t shift = static_cast<uint32_t>((fieldNumber * bars::kSamplesPerField) % width);
        return SourceLine{p.bars.data() + shift, uint64_t{1} << 32 | shift};
    }

private:
    struct Pattern {
        bool built = false;
        std::vector<YuvSample> bars;  // two periods, so any shift is one contiguous run
        std::vector<YuvSample> band;
        uint32_t bandWord = 0;
        bool bandValid = false;
    };

    Pattern& pattern(VideoStandard standard) {
        Pattern& p = standard == VideoStandard::Pal ? pal_ : ntsc_;
        if (p.built) return p;
        static const std::array<YuvSample, 8> colours{fromRgb(1, 1, 1), fromRgb(1, 1, 0), fromRgb(0, 1, 1),
                                                      fromRgb(0, 1, 0), fromRgb(1, 0, 1), fromRgb(1, 0, 0),
                                                      fromRgb(0, 0, 1), fromRgb(0, 0, 0)};
        const uint32_t width = timingOf(standard).width;
        p.bars.resize(2 * width);
        for (uint32_t x = 0; x < 2 * width; ++x) p.bars[x] = colours[(x % width) * 8 / width];
        p.band.resize(width);
        p.built = true;
        return p;
    }

    Pattern pal_, ntsc_;
};

}  // namespace

std::unique_ptr<VideoSource> makeBarsSource() { return std::make_unique<BarsSource>(); }

}  // namespace lxhw::tern
