// Building the DMA program of a 768 x 576 frame, without a mask and with
// the worst mask (alternating pixels: 768 runs a line). A slot of the
// two-slot ring is rebuilt while the card fills the other, so a build must
// take a small part of a field (20 ms). Peer: filling the same bytes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "dma_program.h"
#include "fake_card.h"
#include "mask_runs.h"

namespace {

using terncard::testing::FakeCard;
using terncard::testing::TestContext;

struct Bench {
  FakeCard card;
  TestContext block;
  std::vector<uint32_t> words;
  std::vector<uint8_t> mask = std::vector<uint8_t>(terncard::kMaskLineBytes * terncard::kMaskFieldLines, 0x55);
  TernCardContext* context;

  explicit Bench(bool masked) : context(block.lock()) {
    context->outputWidth = 768;
    context->outputHeight = 288;
    context->bitsPerPixel = 16;
    context->maskEnabled = masked ? 1 : 0;
    context->maskFirst = mask.data();
    context->maskSecond = mask.data();
    words.assign(terncard::ProgramWords(context, true, 0x1000000, false, 1), 0);
    context->programAllocated = 1;
    context->programBuffer.UserAddress = reinterpret_cast<uintptr_t>(words.data());
    context->programBuffer.PhysicalAddress = 0x200000;
    context->programBuffer.Size = static_cast<uint32_t>(words.size() * 4);
  }
  ~Bench() { block.unlock(); }
};

void build(benchmark::State& state, bool masked) {
  Bench bench(masked);
  const terncard::ProgramTarget target{true, 0x1000000, false, false, false, false};
  const terncard::DisplayGeometry display{1024, 0, 0};
  for (auto _ : state) {
    terncard::BuildDmaProgram(bench.context, target, 1, 0, display);
    benchmark::DoNotOptimize(bench.words.data());
  }
  state.counters["words"] = static_cast<double>(bench.words.size());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bench.words.size() * 4));
}

void BM_BuildFrameWithoutMask(benchmark::State& state) { build(state, false); }
void BM_BuildFrameWorstMask(benchmark::State& state) { build(state, true); }

// The run conversion alone, for the 576 lines of the worst mask.
void BM_RunsOfWorstMask(benchmark::State& state) {
  std::vector<uint8_t> line(terncard::kMaskLineBytes, 0x55);
  uint16_t runs[terncard::kMaxRunsPerLine];
  for (auto _ : state) {
    for (int i = 0; i < 576; ++i) {
      benchmark::DoNotOptimize(terncard::maskLineRuns(line.data(), 768, runs));
    }
  }
}

void BM_PeerFillSameBytes(benchmark::State& state) {
  Bench bench(true);
  for (auto _ : state) {
    std::memset(bench.words.data(), static_cast<int>(state.iterations() & 0xFF), bench.words.size() * 4);
    benchmark::DoNotOptimize(bench.words.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bench.words.size() * 4));
}

}  // namespace

BENCHMARK(BM_BuildFrameWithoutMask)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BuildFrameWorstMask)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RunsOfWorstMask)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PeerFillSameBytes)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
