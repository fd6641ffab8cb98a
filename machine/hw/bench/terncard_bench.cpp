// Rendering speed of the card's decoder: one 768 x 576 RGB32 frame (two
// fields of 288 lines) from the bars, the stamped bars, a still picture and
// pictures that change every field, as the DMA engine asks for it.
#include <benchmark/benchmark.h>
#include <png.h>
#include <unistd.h>

#include <filesystem>

#include <cstring>
#include <vector>

#include "lxmachine/hw/terncard/decoder.h"

namespace lxhw::tern {
namespace {

RegisterSnapshot fullFrameRgb32() {
    RegisterSnapshot r = kInitialRegisters;
    for (uint32_t set : {0u, uint32_t{kSetB}}) {
        r[(kHighBitsA + set) / 4] = 3 | 2 << 4;  // width 768 (0x300), vactive 576 (0x240)
        r[(kHActiveA + set) / 4] = 0x00;
        r[(kVActiveA + set) / 4] = 0x40;
        r[(kHDelayA + set) / 4] = 154;
        r[(kVDelayA + set) / 4] = 32;
        r[(kHScaleHiA + set) / 4] = 828 >> 8;
        r[(kHScaleLoA + set) / 4] = 828 & 0xFF;
        r[(kVScaleHiA + set) / 4] = 0x20;
        r[(kVScaleLoA + set) / 4] = 0;
    }
    r[kInputFormat / 4] = kFormatPal;
    r[kPixelFormat / 4] = 0x00;
    return r;
}

void renderFrame(benchmark::State& state, std::shared_ptr<VideoSource> source) {
    const RegisterSnapshot regs = fullFrameRgb32();
    FieldRenderer renderer;
    std::vector<uint8_t> frame(768 * 4 * 576);
    uint64_t field = 0;
    for (auto _ : state) {
        for (int parity = 0; parity < 2; ++parity, ++field) {
            renderer.prepare(regs, source, field);
            for (uint32_t j = 0; j < 288; ++j)
                std::memcpy(&frame[(2 * j + parity) * 768 * 4], renderer.line(j), renderer.lineBytes());
        }
        benchmark::DoNotOptimize(frame.data());
    }
    state.counters["frames/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_RenderBarsFrameRgb32(benchmark::State& state) { renderFrame(state, makeBarsSource()); }
BENCHMARK(BM_RenderBarsFrameRgb32)->Unit(benchmark::kMicrosecond);

// The bars with a stamp on every line: the stamp should cost little beside the bars.
void BM_RenderStampFrameRgb32(benchmark::State& state) { renderFrame(state, makeStampSource(1)); }
BENCHMARK(BM_RenderStampFrameRgb32)->Unit(benchmark::kMicrosecond);

// A picture whose every line differs, which stays: converted and stored in
// the first frame, its lines come from the renderer's store after that.
void BM_RenderPictureFrameRgb32(benchmark::State& state) {
    const auto path = std::filesystem::temp_directory_path() / ("terncard_bench_" + std::to_string(getpid()) + ".png");
    std::vector<uint8_t> rgb(768 * 576 * 3);
    uint32_t seed = 12345;
    for (uint8_t& b : rgb) b = static_cast<uint8_t>((seed = seed * 1103515245 + 12345) >> 16);
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = 768;
    image.height = 576;
    image.format = PNG_FORMAT_RGB;
    if (!png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr)) {
        state.SkipWithError("cannot write the picture");
        return;
    }
    std::string error;
    std::shared_ptr<VideoSource> source = makeVideoSource("image:" + path.string(), &error);
    std::filesystem::remove(path);
    if (!source) {
        state.SkipWithError(error.c_str());
        return;
    }
    renderFrame(state, source);
}
BENCHMARK(BM_RenderPictureFrameRgb32)->Unit(benchmark::kMicrosecond);

// The worst case: every line differs and every field shows new lines (a
// sequence of pictures), so every line is converted and stored.
class ChangingPicture : public VideoSource {
public:
    ChangingPicture() : samples_(size_t{768} * 577) {
        uint32_t seed = 12345;
        for (YuvSample& s : samples_) {
            seed = seed * 1103515245 + 12345;
            s = YuvSample{static_cast<uint8_t>(16 + (seed >> 16) % 220), static_cast<uint8_t>(seed >> 8),
                          static_cast<uint8_t>(seed >> 24), 0};
        }
    }
    std::string name() const override { return "changing"; }
    bool hasSignal() const override { return true; }
    SourceLine line(VideoStandard, uint64_t fieldNumber, uint32_t frameLine) override {
        const uint32_t shift = static_cast<uint32_t>(fieldNumber % 2);  // the lines differ from field to field
        return SourceLine{&samples_[size_t{frameLine + shift} * 768], fieldNumber << 20 | frameLine};
    }

private:
    std::vector<YuvSample> samples_;
};
void BM_RenderChangingPictureFrameRgb32(benchmark::State& state) {
    renderFrame(state, std::make_shared<ChangingPicture>());
}
BENCHMARK(BM_RenderChangingPictureFrameRgb32)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace lxhw::tern

BENCHMARK_MAIN();
