// How fast a counted snap shot delivers frames against a private machine
// whose clock runs 20 times fast (PAL: 500 frames a second). The peer is the
// card itself: the field numbers of the first and last frame tell how many
// frames the card produced over the same stretch, so `handedOverShare` = 1
// means every frame the card made was handed over (no missed hand-over), and
// `missedFrames` counts the ones that passed between two hand-overs.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <optional>

#include "bars_decoder.h"
#include "lx/video.h"
#include "lx/video_capture.h"
#include "lx/video_card.h"
#include "lx/video_types.h"
#include "machine_benchmark_main.h"

namespace {

constexpr uint32_t kWidth = 768;
constexpr uint32_t kFieldLines = 288;
constexpr uint32_t kFrameBytes = 2 * kFieldLines * kWidth;  // 8-bit grey

std::optional<uint32_t> firstFieldOf(const uint8_t* frame) {
  lxtest::CapturedField field;
  field.pixels = frame;
  field.width = kWidth;
  field.lines = kFieldLines;
  field.stride = 2 * kWidth;
  field.format = lxhw::tern::PixelFormat::Grey8;
  return lxtest::decodeFieldNumber(field);
}

void SnapShotOfSeries(benchmark::State& state) {
  const auto frames = static_cast<uint16_t>(state.range(0));
  LxCardHandle card = nullptr;
  if (BeginLxCard(1, &card) != LX_OK || LxSetVideoFormat(card, LX_VIDEO_FORMAT_GREY8_FULL) != LX_OK ||
      LxSetOutputWindow(card, 0, 0, kWidth, 2 * kFieldLines) != LX_OK) {
    state.SkipWithError("the card did not open");
    return;
  }
  LxStaticMemLockHandle lock = nullptr;
  void* memory = nullptr;
  if (LxStaticMemLock(0, frames * kFrameBytes, &lock, &memory) != LX_OK || memory == nullptr) {
    state.SkipWithError("no static memory for the series");
    EndLxCard(card);
    return;
  }
  const auto* bytes = static_cast<const uint8_t*>(memory);
  uint64_t delivered = 0, produced = 0;
  std::chrono::duration<double> inCalls{0};
  for (auto _ : state) {
    const auto began = std::chrono::steady_clock::now();
    const int32_t result = LxSnapShot(card, 0, 0, 1, frames);
    inCalls += std::chrono::steady_clock::now() - began;
    if (result != LX_OK) {
      state.SkipWithError("LxSnapShot failed");
      break;
    }
    state.PauseTiming();
    const auto first = firstFieldOf(bytes);
    const auto last = firstFieldOf(bytes + (frames - 1) * kFrameBytes);
    if (!first || !last || *last <= *first) {
      state.SkipWithError("the frames carry no field numbers in order");
      break;
    }
    delivered += frames;
    produced += (*last - *first) / 2 + 1;
    state.ResumeTiming();
  }
  state.counters["framesPerSecond"] = inCalls.count() > 0 ? static_cast<double>(delivered) / inCalls.count() : 0.0;
  state.counters["handedOverShare"] = produced > 0 ? static_cast<double>(delivered) / produced : 0.0;
  state.counters["missedFrames"] = static_cast<double>(produced - delivered);
  LxStaticMemUnlock(lock);
  EndLxCard(card);
}
BENCHMARK(SnapShotOfSeries)->Arg(30)->Iterations(10)->Repetitions(5)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) { return lxbench::runAgainstMachine(terncard::testing::kFastBarsCard, argc, argv); }
