// How late a snap-ex callback comes after the field end that completed its
// frame, on a private machine running in real time (PAL: 25 frames a second).
// The latency is the callback's CLOCK_MONOTONIC minus the frame's field-end
// time from the card's field clock (`SnapExInfo.timestampNs`). The peer is an
// application thread that polls the card's ring position itself, as fast as
// it can, and reads the same field clock when the position moves: the least
// any poller of the card could achieve. Counters: median and p99 in ms.
#include <benchmark/benchmark.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "grey_card.h"
#include "lx/internal/monotonic_clock.h"
#include "lx/snap_ex.h"
#include "lx/video.h"
#include "lx/video_capture.h"
#include "lx/video_card.h"
#include "lx/video_types.h"
#include "machine_benchmark_main.h"

namespace {

constexpr int kFrames = 150;  // six seconds of PAL a repetition
constexpr uint16_t kFieldEndTimeLo = 0x0E0;
constexpr uint16_t kFieldEndTimeHi = 0x0E4;

struct Latencies {
  std::mutex mutex;
  std::vector<double> ms;
  size_t count() {
    std::lock_guard<std::mutex> lock(mutex);
    return ms.size();
  }
};

void report(benchmark::State& state, std::vector<double> ms) {
  if (ms.empty()) {
    state.SkipWithError("no frame arrived");
    return;
  }
  std::sort(ms.begin(), ms.end());
  state.counters["medianMs"] = ms[ms.size() / 2];
  state.counters["p99Ms"] = ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
  state.counters["frames"] = static_cast<double>(ms.size());
}

int32_t recordLatency(SnapExInfo* info) {
  const uint64_t now = lxclock::monotonicNs();
  auto* latencies = static_cast<Latencies*>(info->context);
  std::lock_guard<std::mutex> lock(latencies->mutex);
  if (info->timestampNs != 0 && now >= info->timestampNs) latencies->ms.push_back((now - info->timestampNs) / 1e6);
  return 0;
}

void SnapExCallbackLatency(benchmark::State& state) {
  LxCardHandle card = lxbench::openGreyCard(state, 384, 288);
  if (card == nullptr) return;
  Latencies latencies;
  for (auto _ : state) {
    if (LxOpenSnapEx(card, recordLatency, &latencies) != LX_OK || LxStartSnapEx(card, 4096, 1, 4) != LX_OK) {
      state.SkipWithError("snap-ex did not start");
      break;
    }
    for (int ms = 0; ms < 3 * kFrames * 40 && latencies.count() < kFrames; ms += 10) Sleep(10);
    LxCloseSnapEx(card);
  }
  report(state, latencies.ms);
  EndLxCard(card);
}

// The application's own poller of a continuous snap: a yield between looks.
void DirectPollLatency(benchmark::State& state) {
  LxCardHandle card = lxbench::openGreyCard(state, 384, 288);
  if (card == nullptr) return;
  std::vector<double> ms;
  for (auto _ : state) {
    if (LxStartSnap(card, 4096, 1, 4) != LX_OK) {
      state.SkipWithError("the snap did not start");
      break;
    }
    int32_t last = -1;
    const uint64_t deadline = lxclock::monotonicNs() + uint64_t{3} * kFrames * 40'000'000u;
    while (ms.size() < static_cast<size_t>(kFrames) && lxclock::monotonicNs() < deadline) {
      int32_t number = -1;
      if (LxGetSnappingNumber(card, &number) != LX_OK) break;
      if (number != last && number % 2 == 0) {  // a frame (two fields) completed
        const uint64_t now = lxclock::monotonicNs();
        int32_t low = 0, high = 0;
        LxGet32BitParam(card, kFieldEndTimeLo, &low);
        LxGet32BitParam(card, kFieldEndTimeHi, &high);
        const uint64_t end = uint64_t{static_cast<uint32_t>(high)} << 32 | static_cast<uint32_t>(low);
        if (last != -1 && end != 0 && now >= end) ms.push_back((now - end) / 1e6);
      }
      last = number;
      std::this_thread::yield();
    }
    LxStopSnap(card);
  }
  report(state, ms);
  EndLxCard(card);
}

BENCHMARK(SnapExCallbackLatency)->Iterations(1)->Repetitions(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(DirectPollLatency)->Iterations(1)->Repetitions(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

// Real time: one card with the bars, the clock as a real card's.
int main(int argc, char** argv) {
  return lxbench::runAgainstMachine(
      "[clock]\nfactor = 1\n\n[display]\nwidth = 1024\nheight = 768\nbits = 32\n\n"
      "[[terncard]]\nsignature = true\nsources = [\"none\", \"none\", \"none\", \"bars\"]\n",
      argc, argv);
}
