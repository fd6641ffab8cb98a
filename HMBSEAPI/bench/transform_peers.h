// What the two transform benchmarks share: a 768 x 576 frame of noise, and
// the peers measured beside the transforms in the same run (memcpy of the
// same output bytes, libyuv's nearest conversions; libyuv flips with a
// negative height).
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include <libyuv/convert_argb.h>
#include <libyuv/convert_from_argb.h>

namespace transformbench {

constexpr int kWidth = 768;
constexpr int kLines = 576;
constexpr size_t kPixels = static_cast<size_t>(kWidth) * kLines;

// Source and destination big enough for 32-bit pixels.
struct Frame {
  std::vector<uint8_t> src = std::vector<uint8_t>(kPixels * 4);
  std::vector<uint8_t> dst = std::vector<uint8_t>(kPixels * 4);
  Frame() {
    uint32_t x = 12345;
    for (auto& b : src) {
      x = x * 1103515245u + 12345u;
      b = static_cast<uint8_t>(x >> 16);
    }
  }
};

inline Frame& frame() {
  static Frame f;
  return f;
}

inline void memcpyPeer(benchmark::State& state, size_t bytesPerPixel) {
  Frame& f = frame();
  for (auto _ : state) {
    std::memcpy(f.dst.data(), f.src.data(), kPixels * bytesPerPixel);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPixels * bytesPerPixel));
}

// The benchmark's argument: flip (0 or 1).
inline int yuvHeight(const benchmark::State& state) { return state.range(0) != 0 ? -kLines : kLines; }

// A libyuv conversion of the frame: (src, src stride, dst, dst stride,
// width, height).
using LibyuvConversion = int (*)(const uint8_t*, int, uint8_t*, int, int, int);

inline void libyuvPeer(benchmark::State& state, LibyuvConversion convert, int srcBytes, int dstBytes) {
  Frame& f = frame();
  for (auto _ : state) {
    convert(f.src.data(), kWidth * srcBytes, f.dst.data(), kWidth * dstBytes, kWidth, yuvHeight(state));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPixels * static_cast<size_t>(dstBytes)));
}

inline void libyuvRgb565ToArgb(benchmark::State& s) { libyuvPeer(s, libyuv::RGB565ToARGB, 2, 4); }
inline void libyuvArgb1555ToArgb(benchmark::State& s) { libyuvPeer(s, libyuv::ARGB1555ToARGB, 2, 4); }
inline void libyuvArgbToRgb24(benchmark::State& s) { libyuvPeer(s, libyuv::ARGBToRGB24, 4, 3); }

}  // namespace transformbench
