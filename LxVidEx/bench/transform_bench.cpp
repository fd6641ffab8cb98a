// LxDataTransform on 768 x 576 frames, every input depth with and without
// flip, beside memcpy of the same output bytes and libyuv's nearest routine
// (libyuv flips with a negative height; it has no 5-6-5 or 5-5-5 to 24-bit
// conversion, so those peers write 32-bit pixels). Compare times within one
// run; on a noisy machine interleave the repetitions:
// --benchmark_repetitions=12 --benchmark_enable_random_interleaving=true
// --benchmark_min_time=0.1
#include <benchmark/benchmark.h>

#include <cstdint>

#include <libyuv/planar_functions.h>

#include "lx/data_transform.h"
#include "transform_peers.h"

namespace {

using namespace transformbench;

// Rows of 768 pixels need no padding, so output bytes are pixels x depth.
void transform(benchmark::State& state, int32_t bits) {
  Frame& f = frame();
  const auto flip = static_cast<int32_t>(state.range(0));
  for (auto _ : state) {
    if (LxDataTransform(f.dst.data(), f.src.data(), kWidth, kLines, bits, flip) != LX_OK) {
      state.SkipWithError("LxDataTransform failed");
      break;
    }
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPixels * (bits == 8 ? 1 : 3)));
}

void BM_DataTransform8(benchmark::State& s) { transform(s, 8); }
void BM_DataTransform15(benchmark::State& s) { transform(s, 15); }
void BM_DataTransform16(benchmark::State& s) { transform(s, 16); }
void BM_DataTransform24(benchmark::State& s) { transform(s, 24); }
void BM_DataTransform32(benchmark::State& s) { transform(s, 32); }

void BM_Memcpy8(benchmark::State& s) { memcpyPeer(s, 1); }
void BM_Memcpy24(benchmark::State& s) { memcpyPeer(s, 3); }

// A plane of rowBytes-wide rows: libyuv's copy, flipped row by row.
void copyPlanePeer(benchmark::State& s, int rowBytes) {
  Frame& f = frame();
  for (auto _ : s) {
    libyuv::CopyPlane(f.src.data(), rowBytes, f.dst.data(), rowBytes, rowBytes, yuvHeight(s));
    benchmark::ClobberMemory();
  }
  s.SetBytesProcessed(static_cast<int64_t>(s.iterations() * static_cast<size_t>(rowBytes) * kLines));
}

void BM_LibyuvCopyPlane8(benchmark::State& s) { copyPlanePeer(s, kWidth); }
void BM_LibyuvCopyPlane24(benchmark::State& s) { copyPlanePeer(s, kWidth * 3); }

void BM_LibyuvRGB565ToARGB(benchmark::State& s) { libyuvRgb565ToArgb(s); }
void BM_LibyuvARGB1555ToARGB(benchmark::State& s) { libyuvArgb1555ToArgb(s); }
void BM_LibyuvARGBToRGB24(benchmark::State& s) { libyuvArgbToRgb24(s); }

// Argument: flip (0 or 1).
BENCHMARK(BM_Memcpy8);
BENCHMARK(BM_LibyuvCopyPlane8)->Arg(0)->Arg(1);
BENCHMARK(BM_DataTransform8)->Arg(0)->Arg(1);
BENCHMARK(BM_Memcpy24);
BENCHMARK(BM_LibyuvCopyPlane24)->Arg(0)->Arg(1);
BENCHMARK(BM_DataTransform24)->Arg(0)->Arg(1);
BENCHMARK(BM_LibyuvRGB565ToARGB)->Arg(0)->Arg(1);
BENCHMARK(BM_DataTransform16)->Arg(0)->Arg(1);
BENCHMARK(BM_LibyuvARGB1555ToARGB)->Arg(0)->Arg(1);
BENCHMARK(BM_DataTransform15)->Arg(0)->Arg(1);
BENCHMARK(BM_LibyuvARGBToRGB24)->Arg(0)->Arg(1);
BENCHMARK(BM_DataTransform32)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
