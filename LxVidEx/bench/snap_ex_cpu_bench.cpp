// Processor time of a snap-ex at 25 frames a second (clock factor 1, one
// card, 10 s): the program's share of a core and the machine's, with the
// snap-ex threads' requests on the shared-memory channel, and beside it
// (interleaved) on the socket alone as before the channel. Counters:
// programCpuPercent, machineCpuPercent, frames (callbacks in the 10 s).
#include <benchmark/benchmark.h>
#include <unistd.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "lx/snap_ex.h"
#include "lx/video.h"
#include "lx/video_capture.h"
#include "lx/video_card.h"
#include "lx/video_types.h"
#include "machine_benchmark_main.h"

namespace {

constexpr auto kMeasured = std::chrono::seconds(10);

// User and system time of a process (0: this one), in seconds; 0 when unknown.
double processCpuSeconds(int pid) {
  const std::string path = pid == 0 ? "/proc/self/stat" : "/proc/" + std::to_string(pid) + "/stat";
  std::ifstream stat(path);
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const size_t at = text.rfind(')');
  if (at == std::string::npos) return 0;
  std::istringstream fields(text.substr(at + 2));
  std::string skip;
  for (int i = 0; i < 11; ++i) fields >> skip;  // state .. cmajflt
  uint64_t user = 0, system = 0;
  fields >> user >> system;
  return static_cast<double>(user + system) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

int daemonPid() {
  const std::string json = terncard::testing::MachineControl().statusJson();
  const size_t machine = json.find("\"machine\":{");
  const size_t pid = machine == std::string::npos ? machine : json.find("\"pid\":", machine);
  return pid == std::string::npos ? 0 : std::atoi(json.c_str() + pid + 6);
}

int32_t countFrame(SnapExInfo* info) {
  static_cast<std::atomic<int>*>(info->context)->fetch_add(1);
  return 0;
}

void snapExCpu(benchmark::State& state, bool channel) {
  LxCardHandle card = nullptr;
  if (BeginLxCard(1, &card) != LX_OK || LxSetVideoFormat(card, LX_VIDEO_FORMAT_GREY8_FULL) != LX_OK ||
      LxSetOutputWindow(card, 0, 0, 384, 288) != LX_OK) {
    state.SkipWithError("the card did not open");
    return;
  }
  const int machine = daemonPid();
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
    const double programBefore = processCpuSeconds(0), machineBefore = processCpuSeconds(machine);
    const auto began = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(kMeasured);
    program += processCpuSeconds(0) - programBefore;
    daemon += processCpuSeconds(machine) - machineBefore;
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
void SnapExOnChannel(benchmark::State& state) { snapExCpu(state, true); }
void SnapExOnSocket(benchmark::State& state) { snapExCpu(state, false); }

BENCHMARK(SnapExOnChannel)->Iterations(1)->Repetitions(3)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(SnapExOnSocket)->Iterations(1)->Repetitions(3)->Unit(benchmark::kSecond)->UseRealTime();

int run(int argc, char** argv) {
  std::vector<char*> args(argv, argv + argc);
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  args.push_back(interleave.data());
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

}  // namespace

// Real time: one card with the bars, the clock as a real card's.
int main(int argc, char** argv) {
  return terncard::testing::runAfterBooting(
      "[clock]\nfactor = 1\n\n[[terncard]]\nsignature = true\nsources = [\"none\", \"none\", \"none\", \"bars\"]\n",
      argc, argv, run);
}
