// What one request to the machine costs, against a private machine with one
// card: a futex round trip and a bare Unix-socket round trip between two
// processes (the peers), a DeviceIoControl the driver answers without the
// card, one card register read and BeginLxCard. The requests are measured
// on the shared-memory channel and, beside it, on the socket alone
// (LX_MACHINE_CHANNEL=0 for that thread's connection), each on a thread of
// its own. Repetitions are interleaved at random; the medians and their
// ratios are printed at the end.
#include <benchmark/benchmark.h>
#include <linux/futex.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "card_client.h"
#include "lx/video_card.h"
#include "machine_benchmark_main.h"

namespace {

constexpr char kOneCard[] = "[clock]\nfactor = 20\n";
constexpr uint32_t kRegPixelFormat = 0x0D4;

// --- the peers: two processes and nothing else -----------------------------

void futexWait(std::atomic<uint32_t>* word, uint32_t expected) {
  timespec second{1, 0};
  ::syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAIT, expected, &second, nullptr, 0);
}
void futexWake(std::atomic<uint32_t>* word) {
  ::syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAKE, 1, nullptr, nullptr, 0);
}

struct PingPong {
  std::atomic<uint32_t> ping{0};
  std::atomic<uint32_t> pong{0};
};
constexpr uint32_t kStop = 0xFFFFFFFFu;

// Each side sleeps in the futex until the other wakes it: no spinning.
void FutexRoundTrip(benchmark::State& state) {
  void* shared = ::mmap(nullptr, sizeof(PingPong), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (shared == MAP_FAILED) {
    state.SkipWithError("no shared memory");
    return;
  }
  auto* pp = new (shared) PingPong;
  const pid_t peer = ::fork();
  if (peer == 0) {
    uint32_t seen = 0;
    while (true) {
      uint32_t ping;
      while ((ping = pp->ping.load()) == seen) {
        futexWait(&pp->ping, seen);
        if (::getppid() == 1) _exit(0);
      }
      if (ping == kStop) _exit(0);
      seen = ping;
      pp->pong.fetch_add(1);
      futexWake(&pp->pong);
    }
  }
  uint32_t pong = 0;
  for (auto _ : state) {
    pp->ping.fetch_add(1);
    futexWake(&pp->ping);
    while (pp->pong.load() == pong) futexWait(&pp->pong, pong);
    pong = pp->pong.load();
  }
  pp->ping.store(kStop);
  futexWake(&pp->ping);
  ::waitpid(peer, nullptr, 0);
  ::munmap(shared, sizeof(PingPong));
}

// Sizes of a register read on the socket: frame header, ioctl record, request; reply.
constexpr size_t kRequestBytes = 16 + 24 + 12;
constexpr size_t kReplyBytes = 16 + 24 + 4;

bool readAll(int fd, uint8_t* buffer, size_t length) {
  size_t got = 0;
  while (got < length) {
    ssize_t n = ::read(fd, buffer + got, length - got);
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  return true;
}

void SocketRoundTrip(benchmark::State& state) {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
    state.SkipWithError("socketpair");
    return;
  }
  const pid_t peer = ::fork();
  if (peer == 0) {
    ::close(fds[0]);
    uint8_t buffer[kRequestBytes];
    while (readAll(fds[1], buffer, kRequestBytes))
      if (::write(fds[1], buffer, kReplyBytes) != static_cast<ssize_t>(kReplyBytes)) break;
    _exit(0);
  }
  ::close(fds[1]);
  uint8_t request[kRequestBytes] = {}, reply[kReplyBytes];
  for (auto _ : state) {
    if (::write(fds[0], request, sizeof request) != static_cast<ssize_t>(sizeof request) ||
        !readAll(fds[0], reply, sizeof reply)) {
      state.SkipWithError("the peer went away");
      break;
    }
    benchmark::DoNotOptimize(reply);
  }
  ::close(fds[0]);
  ::waitpid(peer, nullptr, 0);
}

// --- requests to the machine -------------------------------------------------

// Runs `body` on a new thread, whose connection to the machine has the
// channel or stays on its socket. The connection is made before the timing
// starts (`body` makes one request first).
template <typename Body>
void onThread(bool channel, Body body) {
  if (!channel) ::setenv("LX_MACHINE_CHANNEL", "0", 1);
  std::thread worker(body);
  worker.join();
  ::unsetenv("LX_MACHINE_CHANNEL");
}

void queryWord(benchmark::State& state, bool channel) {
  HANDLE card = terncardvi_test::openCard(0);
  if (card == INVALID_HANDLE_VALUE) {
    state.SkipWithError("the card did not open");
    return;
  }
  onThread(channel, [&] {
    uint32_t word = 1;
    terncardvi_test::control(card, IOCTL_TERN_QUERY_WORD, nullptr, 0, &word, sizeof word);
    for (auto _ : state) {
      if (!terncardvi_test::control(card, IOCTL_TERN_QUERY_WORD, nullptr, 0, &word, sizeof word).ok) {
        state.SkipWithError("the request failed");
        break;
      }
      benchmark::DoNotOptimize(word);
    }
  });
  CloseHandle(card);
}
void IoctlOnChannel(benchmark::State& state) { queryWord(state, true); }
void IoctlOnSocket(benchmark::State& state) { queryWord(state, false); }

void registerRead(benchmark::State& state, bool channel) {
  HANDLE card = terncardvi_test::openCard(0);
  if (card == INVALID_HANDLE_VALUE) {
    state.SkipWithError("the card did not open");
    return;
  }
  onThread(channel, [&] {
    uint32_t value = 0;
    terncardvi_test::readWord(card, kRegPixelFormat, &value);
    for (auto _ : state) {
      if (!terncardvi_test::readWord(card, kRegPixelFormat, &value)) {
        state.SkipWithError("the read failed");
        break;
      }
      benchmark::DoNotOptimize(value);
    }
  });
  CloseHandle(card);
}
void RegisterReadOnChannel(benchmark::State& state) { registerRead(state, true); }
void RegisterReadOnSocket(benchmark::State& state) { registerRead(state, false); }

void beginCard(benchmark::State& state, bool channel) {
  onThread(channel, [&] {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);  // the thread's connection
    for (auto _ : state) {
      LxCardHandle handle = nullptr;
      if (BeginLxCard(1, &handle) != LX_OK) {
        state.SkipWithError("BeginLxCard failed");
        break;
      }
      state.PauseTiming();
      EndLxCard(handle);
      state.ResumeTiming();
    }
  });
}
void BeginLxCardOnChannel(benchmark::State& state) { beginCard(state, true); }
void BeginLxCardOnSocket(benchmark::State& state) { beginCard(state, false); }

constexpr int kRepetitions = 9;
BENCHMARK(FutexRoundTrip)->Repetitions(kRepetitions)->ReportAggregatesOnly(true)->UseRealTime();
BENCHMARK(SocketRoundTrip)->Repetitions(kRepetitions)->ReportAggregatesOnly(true)->UseRealTime();
BENCHMARK(IoctlOnChannel)->Repetitions(kRepetitions)->ReportAggregatesOnly(true)->UseRealTime();
BENCHMARK(IoctlOnSocket)->Repetitions(kRepetitions)->ReportAggregatesOnly(true)->UseRealTime();
BENCHMARK(RegisterReadOnChannel)->Repetitions(kRepetitions)->ReportAggregatesOnly(true)->UseRealTime();
BENCHMARK(RegisterReadOnSocket)->Repetitions(kRepetitions)->ReportAggregatesOnly(true)->UseRealTime();
BENCHMARK(BeginLxCardOnChannel)
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BeginLxCardOnSocket)
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// Keeps the medians (ns of real time) so that their ratios can be printed.
class MedianReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& run : runs)
      if (run.aggregate_name == "median")
        medians[run.run_name.function_name] = run.real_accumulated_time / static_cast<double>(run.iterations) * 1e9;
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> medians;
};

void ratio(const std::map<std::string, double>& m, const char* what, const char* a, const char* b,
           const char* goal) {
  auto x = m.find(a), y = m.find(b);
  if (x == m.end() || y == m.end() || y->second <= 0) return;
  std::printf("%-44s %12.0f ns / %12.0f ns = %6.2f  %s\n", what, x->second, y->second, x->second / y->second, goal);
}

int run(int argc, char** argv) {
  MedianReporter reporter;
  lxbench::runInterleaved(argc, argv, &reporter);
  const auto& m = reporter.medians;
  std::printf("\nmedians of interleaved repetitions, same run:\n");
  ratio(m, "DeviceIoControl (channel) / futex round trip", "IoctlOnChannel", "FutexRoundTrip", "(goal <= 1.5)");
  ratio(m, "register read (channel) / futex round trip", "RegisterReadOnChannel", "FutexRoundTrip", "(goal <= 2)");
  ratio(m, "DeviceIoControl (socket) / futex round trip", "IoctlOnSocket", "FutexRoundTrip", "");
  ratio(m, "register read (socket) / futex round trip", "RegisterReadOnSocket", "FutexRoundTrip", "");
  ratio(m, "bare socket / futex round trip", "SocketRoundTrip", "FutexRoundTrip", "");
  ratio(m, "BeginLxCard socket / channel", "BeginLxCardOnSocket", "BeginLxCardOnChannel", "(goal >= 3 vs 10 ms)");
  ratio(m, "BeginLxCard (channel) / register read", "BeginLxCardOnChannel", "RegisterReadOnChannel", "");
  ratio(m, "BeginLxCard (socket) / register read", "BeginLxCardOnSocket", "RegisterReadOnSocket", "");
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return terncard::testing::runAfterBooting(kOneCard, argc, argv, run); }
