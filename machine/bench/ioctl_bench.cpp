// Cost of one DeviceIoControl round trip through the compat layer, the
// machine's socket, the daemon and a driver, beside a bare request/response
// of the same size on a Unix socket to another process, in the same run.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <windows.h>

#include <cstdio>
#include <map>
#include <memory>

#include "fake_kernel.h"
#include "private_machine.h"

namespace {

constexpr size_t kRequestBytes = 16 + 24 + 12;  // frame header, ioctl record, a register request
constexpr size_t kReplyBytes = 16 + 24 + 4;

std::unique_ptr<lxm::testing::PrivateMachine> machine;

void ioctlRoundTrip(benchmark::State& state) {
    HANDLE device = CreateFileA("\\\\.\\ECHO", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        state.SkipWithError("no echo device");
        return;
    }
    uint32_t request[3] = {2, 0x100, 0};
    uint32_t reply[3] = {};
    DWORD returned = 0;
    for (auto _ : state) {
        if (!DeviceIoControl(device, lxm::testing::kIoctlEcho, request, sizeof request, reply, sizeof reply, &returned,
                             nullptr)) {
            state.SkipWithError("DeviceIoControl failed");
            break;
        }
        benchmark::DoNotOptimize(reply);
    }
    CloseHandle(device);
}

void bareSocketRoundTrip(benchmark::State& state) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        state.SkipWithError("socketpair");
        return;
    }
    pid_t server = ::fork();
    if (server == 0) {
        ::close(fds[0]);
        uint8_t buffer[kRequestBytes];
        while (true) {
            size_t got = 0;
            while (got < kRequestBytes) {
                ssize_t n = ::read(fds[1], buffer + got, kRequestBytes - got);
                if (n <= 0) _exit(0);
                got += static_cast<size_t>(n);
            }
            if (::write(fds[1], buffer, kReplyBytes) != static_cast<ssize_t>(kReplyBytes)) _exit(0);
        }
    }
    ::close(fds[1]);
    uint8_t request[kRequestBytes] = {}, reply[kReplyBytes];
    for (auto _ : state) {
        if (::write(fds[0], request, sizeof request) != static_cast<ssize_t>(sizeof request)) break;
        size_t got = 0;
        while (got < sizeof reply) {
            ssize_t n = ::read(fds[0], reply + got, sizeof reply - got);
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        benchmark::DoNotOptimize(reply);
    }
    ::close(fds[0]);
    ::waitpid(server, nullptr, 0);
}

BENCHMARK(ioctlRoundTrip)->Repetitions(9)->DisplayAggregatesOnly(true)->UseRealTime();
BENCHMARK(bareSocketRoundTrip)->Repetitions(9)->DisplayAggregatesOnly(true)->UseRealTime();

// Keeps the medians so that their ratio can be printed after the run.
class MedianReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs)
            if (run.aggregate_name == "median") medians[run.run_name.function_name] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> medians;
};

}  // namespace

int main(int argc, char** argv) {
    ::setenv("LX_MACHINE_NO_AUTOBOOT", "1", 1);
    machine = std::make_unique<lxm::testing::PrivateMachine>(LX_FAKE_TOOL);
    if (!machine->boot()) {
        std::fprintf(stderr, "the benchmark machine did not boot\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    double ioctl = reporter.medians["ioctlRoundTrip"], bare = reporter.medians["bareSocketRoundTrip"];
    if (ioctl > 0 && bare > 0)
        std::printf("median ioctl round trip %.0f ns, bare socket %.0f ns, ratio %.2f (goal <= 1.5)\n", ioctl, bare,
                    ioctl / bare);
    machine.reset();
    return 0;
}
