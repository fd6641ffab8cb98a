// How fast a counted snap shot delivers frames against a private machine
// whose clock runs 20 times fast (PAL: 500 frames a second; another factor
// with LX_BENCH_CLOCK_FACTOR, for instance 50: 1,250 frames a second). The
// peer is the card itself: the field numbers of the first and last frame
// tell how many frames the card produced over the same stretch, so
// `handedOverShare` = 1 means every frame the card made was handed over (no
// missed hand-over), and `missedFrames` counts the ones that passed between
// two hand-overs. `programCpuPerFrame` and `machineCpuPerFrame` are the
// processor time (seconds) the program and the machine spent per frame
// handed over. `SpinningPairStalls` measures the machine itself: how often a
// busy thread is held off its processor for longer than a frame.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

#include "bars_decoder.h"
#include "grey_card.h"
#include "lx/video.h"
#include "lx/video_capture.h"
#include "lx/video_card.h"
#include "lx/video_types.h"
#include "machine_benchmark_main.h"
#include "process_cpu_time.h"

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
  const LxCardHandle card = lxbench::openGreyCard(state, kWidth, 2 * kFieldLines);
  if (card == nullptr) return;
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
  double programCpu = 0, machineCpu = 0;
  const int machinePid = lxbench::machinePid();
  for (auto _ : state) {
    const double programBefore = lxbench::processCpuSeconds(0), machineBefore = lxbench::processCpuSeconds(machinePid);
    const auto began = std::chrono::steady_clock::now();
    const int32_t result = LxSnapShot(card, 0, 0, 1, frames);
    inCalls += std::chrono::steady_clock::now() - began;
    programCpu += lxbench::processCpuSeconds(0) - programBefore;
    machineCpu += lxbench::processCpuSeconds(machinePid) - machineBefore;
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
  state.counters["programCpuPerFrame"] = delivered > 0 ? programCpu / static_cast<double>(delivered) : 0.0;
  state.counters["machineCpuPerFrame"] =
      delivered > 0 && machinePid > 0 ? machineCpu / static_cast<double>(delivered) : 0.0;
  LxStaticMemUnlock(lock);
  EndLxCard(card);
}
// LX_BENCH_REPETITIONS repetitions of 10 snaps (5 when unset): 25 of them
// make the 7,500 frames of a long run.
int repetitions() {
  const char* value = std::getenv("LX_BENCH_REPETITIONS");
  return value != nullptr && std::atoi(value) > 0 ? std::atoi(value) : 5;
}
BENCHMARK(SnapShotOfSeries)->Arg(30)->Iterations(10)->Repetitions(repetitions())->Unit(benchmark::kMillisecond)->UseRealTime();

int clockFactor() {
  const char* factor = std::getenv("LX_BENCH_CLOCK_FACTOR");
  return factor != nullptr && std::atoi(factor) > 0 ? std::atoi(factor) : 20;
}

// The peer under the hand-over deadline: two threads that do nothing but
// read the clock, busy as the polling program and the machine thread that
// answers it keep both processors during a snap. A stall longer than a
// frame (40 ms / clock factor) is one in which a hand-over could not have
// been made, whatever the stack did: `stallsPerSecond` counts them per
// thread, `longestStallMs` is the longest.
void SpinningPairStalls(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  const auto frame = std::chrono::microseconds(40000 / clockFactor());
  std::atomic<uint64_t> stalls{0};
  std::atomic<int64_t> longest{0};
  double seconds = 0;
  for (auto _ : state) {
    const auto until = Clock::now() + std::chrono::seconds(5);
    const auto spin = [&] {
      auto last = Clock::now();
      for (auto now = last; now < until; last = now) {
        now = Clock::now();
        if (now - last > frame) {
          stalls.fetch_add(1);
          const int64_t gap = std::chrono::duration_cast<std::chrono::microseconds>(now - last).count();
          int64_t seen = longest.load();
          while (gap > seen && !longest.compare_exchange_weak(seen, gap)) {
          }
        }
      }
    };
    std::thread other(spin);
    spin();
    other.join();
    seconds += 5;
  }
  state.counters["stallsPerSecond"] = seconds > 0 ? static_cast<double>(stalls.load()) / (2 * seconds) : 0.0;
  state.counters["longestStallMs"] = static_cast<double>(longest.load()) / 1000.0;
}
BENCHMARK(SpinningPairStalls)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The bars card at the clock factor LX_BENCH_CLOCK_FACTOR (20 when unset).
std::string machineConfigText() {
  std::string config = terncard::testing::kFastBarsCard;
  const std::string from = "factor = 20";
  config.replace(config.find(from), from.size(), "factor = " + std::to_string(clockFactor()));
  return config;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string config = machineConfigText();
  return lxbench::runAgainstMachine(config.c_str(), argc, argv);
}
