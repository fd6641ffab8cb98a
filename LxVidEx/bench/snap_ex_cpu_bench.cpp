// Processor time of a snap-ex at 25 frames a second (clock factor 1, one
// card, 10 s): the program's share of a core and the machine's, with the
// snap-ex threads' requests on the shared-memory channel, and beside it
// (interleaved) on the socket alone as before the channel. Counters:
// programCpuPercent, machineCpuPercent, frames (callbacks in the 10 s).
// The peer `TwoMillisecondLoops` is the floor under any snap-ex: two threads
// that only sleep a millisecond at a time, as the polling and delivery
// threads do between their looks; what a snap-ex costs above it is its
// requests and callbacks.
#include <benchmark/benchmark.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "grey_card.h"
#include "lx/snap_ex.h"
#include "lx/video.h"
#include "lx/video_capture.h"
#include "lx/video_card.h"
#include "lx/video_types.h"
#include "machine_benchmark_main.h"
#include "process_cpu_time.h"

namespace {

constexpr auto kMeasured = std::chrono::seconds(10);

int32_t countFrame(SnapExInfo* info) {
  static_cast<std::atomic<int>*>(info->context)->fetch_add(1);
  return 0;
}

void snapExCpu(benchmark::State& state, bool channel) {
  const LxCardHandle card = lxbench::openGreyCard(state, 384, 288);
  if (card == nullptr) return;
  const int machine = lxbench::machinePid();
  double program = 0, daemon = 0, seconds = 0;
  std::atomic<int> frames{0};
  int counted = 0;
  for (auto _ : state) {
    // The snap-ex threads are made by the open and connect at their first request.
    if (!channel) ::setenv("LX_MACHINE_CHANNEL", "0", 1);
    const bool started = LxOpenSnapEx(card, countFrame, &frames) == LX_OK && LxStartSnapEx(card, 4096, 1, 4) == LX_OK;
    if (started) std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the threads are connected
    ::unsetenv("LX_MACHINE_CHANNEL");
    if (!started) {
      state.SkipWithError("snap-ex did not start");
      break;
    }
    const int framesBefore = frames.load();
    const double programBefore = lxbench::processCpuSeconds(0), machineBefore = lxbench::processCpuSeconds(machine);
    const auto began = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(kMeasured);
    program += lxbench::processCpuSeconds(0) - programBefore;
    daemon += lxbench::processCpuSeconds(machine) - machineBefore;
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    counted += frames.load() - framesBefore;
    LxCloseSnapEx(card);
  }
  EndLxCard(card);
  if (seconds <= 0) return;
  state.counters["programCpuPercent"] = 100.0 * program / seconds;
  state.counters["machineCpuPercent"] = machine > 0 ? 100.0 * daemon / seconds : 0.0;
  state.counters["framesPerSecond"] = counted / seconds;
}
void TwoMillisecondLoops(benchmark::State& state) {
  double program = 0, seconds = 0;
  for (auto _ : state) {
    std::atomic<bool> stop{false};
    const auto loop = [&stop] {
      while (!stop.load()) Sleep(1);
    };
    std::thread polling(loop), delivery(loop);
    const double before = lxbench::processCpuSeconds(0);
    const auto began = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(kMeasured);
    program += lxbench::processCpuSeconds(0) - before;
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    stop.store(true);
    polling.join();
    delivery.join();
  }
  if (seconds > 0) state.counters["programCpuPercent"] = 100.0 * program / seconds;
}

void SnapExOnChannel(benchmark::State& state) { snapExCpu(state, true); }
void SnapExOnSocket(benchmark::State& state) { snapExCpu(state, false); }

BENCHMARK(SnapExOnChannel)->Iterations(1)->Repetitions(3)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(SnapExOnSocket)->Iterations(1)->Repetitions(3)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(TwoMillisecondLoops)->Iterations(1)->Repetitions(3)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

// Real time: one card with the bars, the clock as a real card's.
int main(int argc, char** argv) {
  return terncard::testing::runAfterBooting(
      "[clock]\nfactor = 1\n\n[[terncard]]\nsignature = true\nsources = [\"none\", \"none\", \"none\", \"bars\"]\n",
      argc, argv, lxbench::runInterleaved);
}
