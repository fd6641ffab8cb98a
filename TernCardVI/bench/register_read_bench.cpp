// Cost of one card register read as the card library makes it: a
// DeviceIoControl through the compat layer, the machine, the driver's
// start-I/O queue and the card model; beside it the same round trip with a
// request the driver answers without touching the card.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>

#include "card_client.h"
#include "card_machine.h"

using namespace terncardvi_test;

namespace {

constexpr uint32_t kRegPixelFormat = 0x0D4;

std::unique_ptr<CardMachine> machine;
HANDLE card = INVALID_HANDLE_VALUE;

void registerRead(benchmark::State& state) {
    for (auto _ : state) {
        uint32_t value = 0;
        if (!readWord(card, kRegPixelFormat, &value) || value != 0x44u) {
            state.SkipWithError("register read failed");
            break;
        }
        benchmark::DoNotOptimize(value);
    }
}

void queryWordRequest(benchmark::State& state) {
    for (auto _ : state) {
        uint32_t word = 1;
        if (!control(card, IOCTL_TERN_QUERY_WORD, nullptr, 0, &word, sizeof word).ok) {
            state.SkipWithError("query failed");
            break;
        }
        benchmark::DoNotOptimize(word);
    }
}

BENCHMARK(registerRead)->Repetitions(9)->DisplayAggregatesOnly(true)->UseRealTime();
BENCHMARK(queryWordRequest)->Repetitions(9)->DisplayAggregatesOnly(true)->UseRealTime();

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
    machine = std::make_unique<CardMachine>();
    card = machine->booted() ? openCard(0) : INVALID_HANDLE_VALUE;
    if (card == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "no card to measure: the machine did not boot or the card did not open\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    const double read = reporter.medians["registerRead"], query = reporter.medians["queryWordRequest"];
    if (read > 0 && query > 0)
        std::printf("median register read %.0f ns, request without the card %.0f ns, ratio %.2f\n", read, query,
                    read / query);
    CloseHandle(card);
    machine.reset();
    return 0;
}
