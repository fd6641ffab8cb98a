// HmbTransformMem on 768 x 576 frames, each path with and without flip,
// beside memcpy of the same output bytes and libyuv's nearest conversion.
// The flipped same-size copies also run beside a straight copy by the same
// vector loop: memcpy of a block this size is `rep movsb`, which on some
// processors writes whole cache lines without reading them first, an
// advantage no per-line copy can share. Compare times within one run; on a
// noisy machine interleave the repetitions: --benchmark_repetitions=12
// --benchmark_enable_random_interleaving=true --benchmark_min_time=0.1
#include <benchmark/benchmark.h>

#include <cstdint>

#include "transform/pixel_rows.h"
#include "transform/transform_mem.h"
#include "transform_peers.h"

namespace {

using namespace transformbench;

void transform(benchmark::State& state, int32_t bytesPerPixel, int32_t layout, int32_t flip, size_t outBytes) {
  Frame& f = frame();
  for (auto _ : state) {
    hmb::transformMem(f.dst.data(), f.src.data(), kWidth, kLines, bytesPerPixel, layout, flip);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPixels * outBytes));
}

// The flipped copy's own loop over the whole block as one line.
void straightVectorCopy(benchmark::State& state, size_t bytesPerPixel) {
  Frame& f = frame();
  const size_t bytes = kPixels * bytesPerPixel;
  const hmb::ReversedLineCopier copy = hmb::bestRowConverters().copyLinesReversed;
  for (auto _ : state) {
    copy(f.dst.data(), bytes, f.src.data(), bytes, bytes, 1);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

void BM_Transform8(benchmark::State& s) { transform(s, 1, 0, static_cast<int32_t>(s.range(0)), 1); }
void BM_Transform24(benchmark::State& s) { transform(s, 3, 0, static_cast<int32_t>(s.range(0)), 3); }
void BM_Transform16(benchmark::State& s) { transform(s, 2, 0, static_cast<int32_t>(s.range(0)), 2); }
void BM_Transform565To24(benchmark::State& s) { transform(s, 2, 2, static_cast<int32_t>(s.range(0)), 3); }
void BM_Transform555To24(benchmark::State& s) { transform(s, 2, 1, static_cast<int32_t>(s.range(0)), 3); }
void BM_Transform32To24(benchmark::State& s) { transform(s, 4, 0, static_cast<int32_t>(s.range(0)), 3); }

void BM_Memcpy8(benchmark::State& s) { memcpyPeer(s, 1); }
void BM_Memcpy16(benchmark::State& s) { memcpyPeer(s, 2); }
void BM_Memcpy24(benchmark::State& s) { memcpyPeer(s, 3); }
void BM_StraightVectorCopy8(benchmark::State& s) { straightVectorCopy(s, 1); }
void BM_StraightVectorCopy16(benchmark::State& s) { straightVectorCopy(s, 2); }

void BM_LibyuvARGBToRGB24(benchmark::State& s) { libyuvArgbToRgb24(s); }
void BM_LibyuvRGB565ToARGB(benchmark::State& s) { libyuvRgb565ToArgb(s); }
void BM_LibyuvARGB1555ToARGB(benchmark::State& s) { libyuvArgb1555ToArgb(s); }

// Argument: flip (0 or 1).
BENCHMARK(BM_Memcpy8);
BENCHMARK(BM_StraightVectorCopy8);
BENCHMARK(BM_Transform8)->Arg(0)->Arg(1);
BENCHMARK(BM_Memcpy16);
BENCHMARK(BM_StraightVectorCopy16);
BENCHMARK(BM_Transform16)->Arg(0)->Arg(1);
BENCHMARK(BM_Memcpy24);
BENCHMARK(BM_Transform24)->Arg(0)->Arg(1);
BENCHMARK(BM_LibyuvRGB565ToARGB)->Arg(0)->Arg(1);
BENCHMARK(BM_Transform565To24)->Arg(0)->Arg(1);
BENCHMARK(BM_LibyuvARGB1555ToARGB)->Arg(0)->Arg(1);
BENCHMARK(BM_Transform555To24)->Arg(0)->Arg(1);
BENCHMARK(BM_LibyuvARGBToRGB24)->Arg(0)->Arg(1);
BENCHMARK(BM_Transform32To24)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
