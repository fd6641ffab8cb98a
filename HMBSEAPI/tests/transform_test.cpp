// The line transform: exact output bytes of each path, line order, and that
// nothing is written outside the destination.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "transform/pixel_rows.h"
#include "transform/transform_mem.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Output bytes of one 16-bit pixel in the byte formulation of the format
// (low byte L, high byte H), independent of the converters' formulation.
Bytes expected565(uint8_t L, uint8_t H) {
  return {static_cast<uint8_t>(L << 3), static_cast<uint8_t>(((L >> 3) & 0x1C) | static_cast<uint8_t>(H << 5)),
          static_cast<uint8_t>(H & 0xF8)};
}
Bytes expected555(uint8_t L, uint8_t H) {
  return {static_cast<uint8_t>(L << 3), static_cast<uint8_t>(((L >> 2) & 0x38) | static_cast<uint8_t>(H << 6)),
          static_cast<uint8_t>((H & 0xFC) << 1)};
}

Bytes convertPixel(uint16_t pixel, int32_t layout) {
  const uint8_t src[2] = {static_cast<uint8_t>(pixel), static_cast<uint8_t>(pixel >> 8)};
  Bytes dst(3, 0xAA);
  EXPECT_EQ(hmb::transformMem(dst.data(), src, 1, 1, 2, layout, 0), 1);
  return dst;
}

Bytes randomBytes(size_t n, uint32_t seed) {
  std::mt19937 random(seed);
  Bytes b(n);
  for (auto& x : b) x = static_cast<uint8_t>(random());
  return b;
}

TEST(TransformMem, SixteenBitPixelsGiveTheDocumentedBytes) {
  EXPECT_EQ(convertPixel(0xF800, 2), (Bytes{0x00, 0x00, 0xF8}));
  EXPECT_EQ(convertPixel(0x07E0, 2), (Bytes{0x00, 0xFC, 0x00}));
  EXPECT_EQ(convertPixel(0x001F, 2), (Bytes{0xF8, 0x00, 0x00}));
  EXPECT_EQ(convertPixel(0xFFFF, 2), (Bytes{0xF8, 0xFC, 0xF8}));
  EXPECT_EQ(convertPixel(0x7C00, 1), (Bytes{0x00, 0x00, 0xF8}));
  EXPECT_EQ(convertPixel(0x8000, 1), (Bytes{0x00, 0x00, 0x00}));  // bit 15 ignored
  EXPECT_EQ(convertPixel(0x03E0, 1), (Bytes{0x00, 0xF8, 0x00}));
  EXPECT_EQ(convertPixel(0xFFFF, 1), (Bytes{0xF8, 0xF8, 0xF8}));
  // Every nonzero layout other than 2 reads 5-5-5.
  EXPECT_EQ(convertPixel(0x7C00, 3), convertPixel(0x7C00, 1));
  EXPECT_EQ(convertPixel(0x7C00, -1), convertPixel(0x7C00, 1));
}

TEST(TransformMem, ThirtyTwoBitPixelsKeepTheirFirstThreeBytes) {
  const uint8_t src[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  Bytes dst(7, 0xAA);
  EXPECT_EQ(hmb::transformMem(dst.data(), src, 2, 1, 4, 0, 0), 1);
  EXPECT_EQ(dst, (Bytes{1, 2, 3, 5, 6, 7, 0xAA}));
}

TEST(TransformMem, FlipWritesSourceLineZeroToTheLastLine) {
  struct Path {
    int32_t bytesPerPixel, layout, outBytes;
  };
  for (Path path : {Path{1, 0, 1}, Path{3, 0, 3}, Path{2, 0, 2}, Path{2, 2, 3}, Path{2, 1, 3}, Path{4, 0, 3}}) {
    SCOPED_TRACE(testing::Message() << "bytes " << path.bytesPerPixel << " layout " << path.layout);
    const int32_t width = 5;
    const size_t srcLine = width * path.bytesPerPixel;
    const size_t dstLine = width * path.outBytes;
    Bytes src = randomBytes(srcLine * 3, 7);
    Bytes flipped(dstLine * 3), straight(dstLine * 3);
    ASSERT_EQ(hmb::transformMem(flipped.data(), src.data(), width, 3, path.bytesPerPixel, path.layout, 1), 1);
    ASSERT_EQ(hmb::transformMem(straight.data(), src.data(), width, 3, path.bytesPerPixel, path.layout, 0), 1);
    for (size_t line = 0; line < 3; ++line) {
      EXPECT_TRUE(std::equal(flipped.begin() + (2 - line) * dstLine, flipped.begin() + (3 - line) * dstLine,
                             straight.begin() + line * dstLine));
    }
    if (path.outBytes == path.bytesPerPixel) {
      EXPECT_EQ(straight, src);  // unconverted paths copy
    }
  }
}

TEST(TransformMem, NothingIsWrittenForUnknownSizesOrEmptyPictures) {
  const Bytes src(64, 0x55);
  Bytes dst(64, 0xAA);
  EXPECT_EQ(hmb::transformMem(dst.data(), src.data(), 4, 2, 5, 0, 0), 1);
  EXPECT_EQ(hmb::transformMem(dst.data(), src.data(), 4, 2, 0, 0, 1), 1);
  EXPECT_EQ(hmb::transformMem(dst.data(), src.data(), 0, 2, 4, 0, 0), 1);
  EXPECT_EQ(hmb::transformMem(dst.data(), src.data(), 4, 0, 2, 2, 1), 1);
  EXPECT_EQ(hmb::transformMem(dst.data(), src.data(), -4, 2, 3, 0, 0), 1);
  EXPECT_EQ(hmb::transformMem(dst.data(), src.data(), 4, -2, 1, 0, 1), 1);
  EXPECT_EQ(dst, Bytes(64, 0xAA));
}

std::vector<const hmb::RowConverters*> converterSets() {
  std::vector<const hmb::RowConverters*> sets{&hmb::scalarRowConverters()};
  if (__builtin_cpu_supports("avx2")) sets.push_back(&hmb::avx2RowConverters());
  if (__builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi")) {
    sets.push_back(&hmb::avx512RowConverters());
  }
  return sets;
}

// Packed lines, and lines apart by strides whose gaps must stay untouched.
TEST(TransformMem, ReversedLineCopyMovesEveryByteOfEveryLineLength) {
  for (const hmb::RowConverters* set : converterSets()) {
    for (size_t lineBytes = 1; lineBytes <= 300; lineBytes += (lineBytes < 70 ? 1 : 13)) {
      for (size_t gap : {size_t{0}, size_t{3}}) {
        SCOPED_TRACE(testing::Message() << "line bytes " << lineBytes << " gap " << gap);
        const size_t lines = 4;
        const size_t srcStride = lineBytes + gap, dstStride = lineBytes + 2 * gap;
        const Bytes src = randomBytes(srcStride * lines, static_cast<uint32_t>(lineBytes));
        Bytes dst(dstStride * lines + 64, 0xAA);
        set->copyLinesReversed(dst.data(), dstStride, src.data(), srcStride, lineBytes, lines);
        for (size_t i = 0; i < lines; ++i) {
          const auto to = dst.begin() + static_cast<long>((lines - 1 - i) * dstStride);
          ASSERT_TRUE(std::equal(src.begin() + static_cast<long>(i * srcStride),
                                 src.begin() + static_cast<long>(i * srcStride + lineBytes), to));
          ASSERT_EQ(Bytes(to + static_cast<long>(lineBytes), to + static_cast<long>(dstStride)), Bytes(2 * gap, 0xAA));
        }
        EXPECT_EQ(Bytes(dst.end() - 64, dst.end()), Bytes(64, 0xAA));
      }
    }
  }
}

// Each converter set against the byte formulation, for every row length up
// to a few vector steps (all tail lengths), with guard bytes after the row.
TEST(TransformMem, ConvertersMatchTheByteFormulasForEveryTail) {
  const std::vector<const hmb::RowConverters*> sets = converterSets();
  for (const hmb::RowConverters* const& set : sets) {
    for (size_t pixels = 0; pixels <= 150; ++pixels) {
      SCOPED_TRACE(testing::Message() << "pixels " << pixels <<  " set " << (&set - &sets[0]));
      const Bytes src16 = randomBytes(pixels * 2, static_cast<uint32_t>(pixels));
      const Bytes src32 = randomBytes(pixels * 4, static_cast<uint32_t>(pixels) + 1000);
      Bytes want565, want555, want32;
      for (size_t i = 0; i < pixels; ++i) {
        for (uint8_t b : expected565(src16[2 * i], src16[2 * i + 1])) want565.push_back(b);
        for (uint8_t b : expected555(src16[2 * i], src16[2 * i + 1])) want555.push_back(b);
        for (int c = 0; c < 3; ++c) want32.push_back(src32[4 * i + c]);
      }
      const Bytes guard(40, 0xAA);
      auto run = [&](hmb::RowConverter row, const Bytes& src) {
        Bytes out(pixels * 3 + guard.size(), 0xAA);
        row(out.data(), src.data(), pixels);
        EXPECT_TRUE(std::equal(guard.begin(), guard.end(), out.end() - static_cast<long>(guard.size())));
        out.resize(pixels * 3);
        return out;
      };
      EXPECT_EQ(run(set->rgb565To24, src16), want565);
      EXPECT_EQ(run(set->rgb555To24, src16), want555);
      EXPECT_EQ(run(set->rgb32To24, src32), want32);
    }
  }
}

// A full frame through the public path, flipped, against the byte formulas.
TEST(TransformMem, FlippedFrameOfSixteenBitPixelsConvertsEveryLine) {
  const int32_t width = 768, lines = 6;
  const Bytes src = randomBytes(static_cast<size_t>(width) * lines * 2, 99);
  Bytes dst(static_cast<size_t>(width) * lines * 3 + 16, 0xAA);
  ASSERT_EQ(hmb::transformMem(dst.data(), src.data(), width, lines, 2, 2, 1), 1);
  for (int32_t line = 0; line < lines; ++line) {
    for (int32_t x = 0; x < width; ++x) {
      const size_t s = (static_cast<size_t>(line) * width + x) * 2;
      const size_t d = (static_cast<size_t>(lines - 1 - line) * width + x) * 3;
      ASSERT_EQ(Bytes(dst.begin() + d, dst.begin() + d + 3), expected565(src[s], src[s + 1]))
          << "line " << line << " x " << x;
    }
  }
  EXPECT_EQ(Bytes(dst.end() - 16, dst.end()), Bytes(16, 0xAA));
}

}  // namespace
