// LxDataTransform and LxDataInterchange: exact bytes per format, strides,
// flip, in-place use, and refusals that leave the destination alone.
#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

#include "lx/data_transform.h"
#include "pixel_rows.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint8_t kGuard = 0xA5;

// A destination of `size` bytes filled with guard bytes, and one guard past it.
Bytes guarded(size_t size) { return Bytes(size + 1, kGuard); }

// B, G, R of a single 15 or 16-bit pixel.
Bytes convertPixel(int bits, uint8_t lo, uint8_t hi) {
  const uint8_t in[4] = {lo, hi, 0, 0};
  Bytes out = guarded(4);
  EXPECT_EQ(LxDataTransform(out.data(), in, 1, 1, bits, 0), LX_OK);
  EXPECT_EQ(out[3], kGuard) << "row padding is not written";
  return Bytes(out.begin(), out.begin() + 3);
}

TEST(DataTransform, StrideRoundsRowsToFourBytes) {
  EXPECT_EQ(lxvidex::rowStride(3, 24), 12u);
  EXPECT_EQ(lxvidex::rowStride(3, 8), 4u);
  EXPECT_EQ(lxvidex::rowStride(3, 15), 8u);
  EXPECT_EQ(lxvidex::rowStride(3, 32), 12u);
  EXPECT_EQ(lxvidex::rowStride(4, 8), 4u);
  EXPECT_EQ(lxvidex::imageBytes(uint64_t{1} << 40, uint64_t{1} << 30), 0u) << "larger than any buffer";
}

TEST(DataTransform, SixteenBitChannelsKeepTheirTopBits) {
  EXPECT_EQ(convertPixel(16, 0x00, 0xF8), (Bytes{0x00, 0x00, 0xF8}));
  EXPECT_EQ(convertPixel(16, 0xE0, 0x07), (Bytes{0x00, 0xFC, 0x00}));
  EXPECT_EQ(convertPixel(16, 0x1F, 0x00), (Bytes{0xF8, 0x00, 0x00}));
  EXPECT_EQ(convertPixel(16, 0xFF, 0xFF), (Bytes{0xF8, 0xFC, 0xF8}));
  EXPECT_EQ(convertPixel(16, 0x21, 0x08), (Bytes{0x08, 0x04, 0x08})) << "lowest bit of each channel";
}

TEST(DataTransform, FifteenBitIgnoresTheTopBit) {
  EXPECT_EQ(convertPixel(15, 0x00, 0x7C), (Bytes{0x00, 0x00, 0xF8}));
  EXPECT_EQ(convertPixel(15, 0xE0, 0x03), (Bytes{0x00, 0xF8, 0x00}));
  EXPECT_EQ(convertPixel(15, 0x1F, 0x00), (Bytes{0xF8, 0x00, 0x00}));
  EXPECT_EQ(convertPixel(15, 0x00, 0x80), (Bytes{0x00, 0x00, 0x00}));
  EXPECT_EQ(convertPixel(15, 0x21, 0x04), (Bytes{0x08, 0x08, 0x08})) << "lowest bit of each channel";
}

// Two rows of three 16-bit pixels: rows of 6 bytes in a stride of 8, out at
// a stride of 12, flipped.
TEST(DataTransform, SixteenBitRowsGoToTheTwentyFourBitStride) {
  const Bytes in = {0x1F, 0x00, 0xE0, 0x07, 0x00, 0xF8, 0x77, 0x77,  // blue green red
                    0x00, 0xF8, 0x1F, 0x00, 0xE0, 0x07, 0x77, 0x77};  // red blue green
  Bytes out = guarded(24);
  ASSERT_EQ(LxDataTransform(out.data(), in.data(), 3, 2, 16, 1), LX_OK);
  const Bytes expected = {0x00, 0x00, 0xF8, 0xF8, 0x00, 0x00, 0x00, 0xFC, 0x00, kGuard, kGuard, kGuard,
                          0xF8, 0x00, 0x00, 0x00, 0xFC, 0x00, 0x00, 0x00, 0xF8, kGuard, kGuard, kGuard, kGuard};
  EXPECT_EQ(out, expected);
}

TEST(DataTransform, ThirtyTwoBitDropsTheFourthByte) {
  const Bytes in = {1, 2, 3, 0xFF, 4, 5, 6, 0xFF, 7, 8, 9, 0xFF,  //
                    10, 11, 12, 0xFF, 13, 14, 15, 0xFF, 16, 17, 18, 0xFF};
  Bytes out = guarded(24);
  ASSERT_EQ(LxDataTransform(out.data(), in.data(), 3, 2, 32, 0), LX_OK);
  EXPECT_EQ(out, (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, kGuard, kGuard, kGuard,  //
                        10, 11, 12, 13, 14, 15, 16, 17, 18, kGuard, kGuard, kGuard, kGuard}));
  out = guarded(24);
  ASSERT_EQ(LxDataTransform(out.data(), in.data(), 3, 2, 32, 1), LX_OK);
  EXPECT_EQ(out, (Bytes{10, 11, 12, 13, 14, 15, 16, 17, 18, kGuard, kGuard, kGuard,  //
                        1, 2, 3, 4, 5, 6, 7, 8, 9, kGuard, kGuard, kGuard, kGuard}));
}

// 8 and 24 bits copy: whole rows without flip, the pixel bytes of each row
// with flip.
TEST(DataTransform, EightAndTwentyFourBitsAreCopied) {
  Bytes in(3 * 12);
  std::iota(in.begin(), in.end(), uint8_t{1});
  for (int bits : {8, 24}) {
    const size_t stride = bits == 8 ? 4 : 12, pixels = bits == 8 ? 3 : 9;
    Bytes out = guarded(3 * stride);
    ASSERT_EQ(LxDataTransform(out.data(), in.data(), 3, 3, bits, 0), LX_OK);
    EXPECT_TRUE(std::equal(in.begin(), in.begin() + 3 * stride, out.begin())) << bits;
    EXPECT_EQ(out[3 * stride], kGuard) << bits;
    out = guarded(3 * stride);
    ASSERT_EQ(LxDataTransform(out.data(), in.data(), 3, 3, bits, 1), LX_OK);
    for (size_t r = 0; r < 3; ++r) {
      for (size_t i = 0; i < stride; ++i) {
        EXPECT_EQ(out[(2 - r) * stride + i], i < pixels ? in[r * stride + i] : kGuard) << bits << " " << r << " " << i;
      }
    }
    EXPECT_EQ(out[3 * stride], kGuard) << bits;
  }
}

// The destination is the source: rows grow from 8 to 12 bytes and flip, so
// a conversion without a copy would read rows it had already overwritten.
TEST(DataTransform, InPlaceReadsACopyOfTheSource) {
  Bytes image(3 * 12 + 1, kGuard);
  const Bytes rows = {0x1F, 0x00, 0xE0, 0x07, 0x00, 0xF8, 0, 0,  //
                      0x00, 0x00, 0xFF, 0xFF, 0x1F, 0x00, 0, 0,  //
                      0x00, 0xF8, 0x00, 0xF8, 0x00, 0xF8, 0, 0};
  std::copy(rows.begin(), rows.end(), image.begin());
  ASSERT_EQ(LxDataTransform(image.data(), image.data(), 3, 3, 16, 1), LX_OK);
  const Bytes red = {0, 0, 0xF8}, white = {0xF8, 0xFC, 0xF8}, blue = {0xF8, 0, 0}, black = {0, 0, 0};
  auto pixel = [&](size_t r, size_t x) { return Bytes(image.begin() + r * 12 + 3 * x, image.begin() + r * 12 + 3 * x + 3); };
  EXPECT_EQ(pixel(0, 0), red);
  EXPECT_EQ(pixel(0, 2), red);
  EXPECT_EQ(pixel(1, 0), black);
  EXPECT_EQ(pixel(1, 1), white);
  EXPECT_EQ(pixel(1, 2), blue);
  EXPECT_EQ(pixel(2, 0), blue);
  EXPECT_EQ(pixel(2, 1), (Bytes{0, 0xFC, 0}));
  EXPECT_EQ(pixel(2, 2), red);
  EXPECT_EQ(image[36], kGuard);
}

Bytes randomBytes(size_t n, uint32_t seed) {
  std::mt19937 random(seed);
  Bytes b(n);
  for (auto& x : b) x = static_cast<uint8_t>(random());
  return b;
}

// B, G, R of pixel x of a source row, by the byte formulas of each depth.
Bytes expectedPixel(int bits, const uint8_t* row, size_t x) {
  if (bits == 32 || bits == 24) {
    const uint8_t* p = row + x * (bits / 8);
    return {p[0], p[1], p[2]};
  }
  const uint8_t lo = row[2 * x], hi = row[2 * x + 1];
  if (bits == 16) {
    return {static_cast<uint8_t>(lo << 3), static_cast<uint8_t>(((lo >> 3) & 0x1C) | (hi << 5)),
            static_cast<uint8_t>(hi & 0xF8)};
  }
  return {static_cast<uint8_t>(lo << 3), static_cast<uint8_t>(((lo >> 2) & 0x38) | (hi << 6)),
          static_cast<uint8_t>((hi & 0xFC) * 2)};
}

// Every width up to a few vector steps (each tail length, padded and packed
// rows) and a full frame width, flipped and not: each pixel by the formulas,
// row padding and the byte past the image untouched.
TEST(DataTransform, ConvertedRowsMatchTheByteFormulasForEveryWidth) {
  std::vector<size_t> widths(140);
  std::iota(widths.begin(), widths.end(), size_t{1});
  widths.push_back(768);
  for (int bits : {15, 16, 24, 32}) {
    for (size_t width : widths) {
      for (int flip : {0, 1}) {
        SCOPED_TRACE(testing::Message() << "bits " << bits << " width " << width << " flip " << flip);
        const size_t rows = 3;
        const size_t inStride = lxvidex::rowStride(width, static_cast<uint64_t>(bits));
        const size_t outStride = lxvidex::rowStride(width, 24);
        const Bytes in = randomBytes(inStride * rows, static_cast<uint32_t>(width * 100 + static_cast<size_t>(bits)));
        Bytes out = guarded(outStride * rows);
        ASSERT_EQ(LxDataTransform(out.data(), in.data(), static_cast<int32_t>(width), rows, bits, flip), LX_OK);
        for (size_t r = 0; r < rows; ++r) {
          const uint8_t* from = in.data() + r * inStride;
          const size_t to = (flip != 0 ? rows - 1 - r : r) * outStride;
          for (size_t x = 0; x < width; ++x) {
            ASSERT_EQ(Bytes(out.begin() + to + 3 * x, out.begin() + to + 3 * x + 3), expectedPixel(bits, from, x))
                << "row " << r << " x " << x;
          }
          // 24-bit input without flip is one whole-image copy, padding included.
          if (bits != 24 || flip != 0) {
            ASSERT_EQ(Bytes(out.begin() + to + 3 * width, out.begin() + to + outStride),
                      Bytes(outStride - 3 * width, kGuard));
          }
        }
        EXPECT_EQ(out.back(), kGuard);
      }
    }
  }
}

// Flipped 8-bit rows of every width: the width bytes of each row move to the
// mirrored row, its padding stays.
TEST(DataTransform, FlippedEightBitRowsOfEveryWidth) {
  for (size_t width = 1; width <= 300; width += (width < 80 ? 1 : 11)) {
    SCOPED_TRACE(testing::Message() << "width " << width);
    const size_t rows = 4, stride = lxvidex::rowStride(width, 8);
    const Bytes in = randomBytes(stride * rows, static_cast<uint32_t>(width));
    Bytes out = guarded(stride * rows);
    ASSERT_EQ(LxDataTransform(out.data(), in.data(), static_cast<int32_t>(width), rows, 8, 1), LX_OK);
    for (size_t r = 0; r < rows; ++r) {
      const auto to = out.begin() + static_cast<long>((rows - 1 - r) * stride);
      ASSERT_TRUE(std::equal(in.begin() + static_cast<long>(r * stride),
                             in.begin() + static_cast<long>(r * stride + width), to));
      ASSERT_EQ(Bytes(to + static_cast<long>(width), to + static_cast<long>(stride)), Bytes(stride - width, kGuard));
    }
    EXPECT_EQ(out.back(), kGuard);
  }
}

// In place, 8 and 24 bits: without flip the image stays as it is; flipped,
// the rows come out reversed although each destination row is a source row
// still to be read. Packed 32-bit rows (whole image as one row) read a copy.
TEST(DataTransform, InPlaceCopiesAndPackedRows) {
  for (int bits : {8, 24}) {
    SCOPED_TRACE(testing::Message() << "bits " << bits);
    const size_t width = 70, rows = 5, stride = lxvidex::rowStride(width, static_cast<uint64_t>(bits));
    const size_t rowBytes = width * static_cast<size_t>(bits) / 8;
    const Bytes original = randomBytes(stride * rows, static_cast<uint32_t>(bits));
    Bytes image = original;
    ASSERT_EQ(LxDataTransform(image.data(), image.data(), width, rows, bits, 0), LX_OK);
    EXPECT_EQ(image, original);
    ASSERT_EQ(LxDataTransform(image.data(), image.data(), width, rows, bits, 1), LX_OK);
    for (size_t r = 0; r < rows; ++r) {
      const auto to = image.begin() + static_cast<long>((rows - 1 - r) * stride);
      EXPECT_TRUE(std::equal(original.begin() + static_cast<long>(r * stride),
                             original.begin() + static_cast<long>(r * stride + rowBytes), to))
          << "row " << r;
      EXPECT_TRUE(std::equal(to + static_cast<long>(rowBytes), to + static_cast<long>(stride),
                             original.begin() + static_cast<long>((rows - 1 - r) * stride + rowBytes)))
          << "padding of row " << rows - 1 - r;
    }
  }
  // 32 pixels of 4 bytes shrink to 3 in place: a conversion that read the
  // buffer it writes would see pixels it had already packed.
  const size_t width = 32, rows = 4;
  const Bytes original = randomBytes(width * rows * 4, 32);
  Bytes image = original;
  ASSERT_EQ(LxDataTransform(image.data(), image.data(), width, rows, 32, 0), LX_OK);
  for (size_t p = 0; p < width * rows; ++p) {
    ASSERT_EQ(Bytes(image.begin() + 3 * p, image.begin() + 3 * p + 3), expectedPixel(32, original.data(), p)) << p;
  }
  EXPECT_TRUE(std::equal(image.begin() + width * rows * 3, image.end(), original.begin() + width * rows * 3));
}

TEST(DataTransform, RefusalsWriteNothing) {
  const Bytes in(64, 0x11);
  Bytes out = guarded(64);
  const Bytes untouched = out;
  EXPECT_EQ(LxDataTransform(out.data(), in.data(), 3, 2, 12, 0), LX_PARAMETER_INVALID);
  for (int bits : {0, 1, 7, 9, 17, 23, 25, 31, 33, 64, -16}) {
    EXPECT_EQ(LxDataTransform(out.data(), in.data(), 2, 2, bits, 0), LX_PARAMETER_INVALID) << bits;
  }
  EXPECT_EQ(LxDataTransform(nullptr, in.data(), 2, 2, 24, 0), LX_PARAMETER_INVALID);
  EXPECT_EQ(LxDataTransform(out.data(), nullptr, 2, 2, 24, 0), LX_PARAMETER_INVALID);
  EXPECT_EQ(LxDataTransform(out.data(), in.data(), 0, 2, 24, 0), LX_PARAMETER_INVALID);
  EXPECT_EQ(LxDataTransform(out.data(), in.data(), -3, 2, 24, 1), LX_PARAMETER_INVALID);
  EXPECT_EQ(LxDataTransform(out.data(), in.data(), 2, 0, 24, 0), LX_PARAMETER_INVALID);
  EXPECT_EQ(LxDataTransform(out.data(), in.data(), 2, -1, 16, 0), LX_PARAMETER_INVALID);
  EXPECT_EQ(LxDataTransform(out.data(), in.data(), INT32_MAX, INT32_MAX, 32, 0), LX_PARAMETER_INVALID);
  EXPECT_EQ(out, untouched);
}

// Four 16-bit pixels p0..p3 in each of two rows.
const Bytes kQuad = {0, 1, 2, 3, 4, 5, 6, 7, 10, 11, 12, 13, 14, 15, 16, 17};

TEST(DataInterchange, HorizontalHalvingKeepsOddOrEvenPixels) {
  Bytes out = guarded(8);
  ASSERT_EQ(LxDataInterchange(out.data(), kQuad.data(), 4, 2, 16, 1), LX_OK);
  EXPECT_EQ(out, (Bytes{0, 1, 4, 5, 10, 11, 14, 15, kGuard}));
  out = guarded(8);
  ASSERT_EQ(LxDataInterchange(out.data(), kQuad.data(), 4, 2, 16, 0), LX_OK);
  EXPECT_EQ(out, (Bytes{2, 3, 6, 7, 12, 13, 16, 17, kGuard}));
  // Five 8-bit pixels: two remain, in a row of 4 bytes whose padding is left.
  const Bytes five = {0, 1, 2, 3, 4, 9, 9, 9};
  out = guarded(4);
  ASSERT_EQ(LxDataInterchange(out.data(), five.data(), 5, 1, 8, 0), LX_OK);
  EXPECT_EQ(out, (Bytes{1, 3, kGuard, kGuard, kGuard}));
}

TEST(DataInterchange, VerticalHalvingAndLineDoubling) {
  Bytes rows(5 * 4);
  std::iota(rows.begin(), rows.end(), uint8_t{0});
  auto row = [&](int r) { return Bytes(rows.begin() + 4 * r, rows.begin() + 4 * r + 4); };
  auto concat = [](std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    all.push_back(kGuard);
    return all;
  };
  Bytes out = guarded(8);
  ASSERT_EQ(LxDataInterchange(out.data(), rows.data(), 3, 5, 8, 2), LX_OK);
  EXPECT_EQ(out, concat({row(0), row(2)})) << "mode 2: even rows";
  out = guarded(8);
  ASSERT_EQ(LxDataInterchange(out.data(), rows.data(), 3, 5, 8, 3), LX_OK);
  EXPECT_EQ(out, concat({row(1), row(3)})) << "mode 3: odd rows";
  out = guarded(16);
  ASSERT_EQ(LxDataInterchange(out.data(), rows.data(), 3, 2, 8, 4), LX_OK);
  EXPECT_EQ(out, concat({row(0), row(0), row(1), row(1)}));
}

TEST(DataInterchange, InPlaceDoublingReadsACopy) {
  Bytes image(16 + 1, kGuard);
  for (int i = 0; i < 8; ++i) image[i] = static_cast<uint8_t>(i + 1);
  ASSERT_EQ(LxDataInterchange(image.data(), image.data(), 1, 2, 32, 4), LX_OK);
  EXPECT_EQ(image, (Bytes{1, 2, 3, 4, 1, 2, 3, 4, 5, 6, 7, 8, 5, 6, 7, 8, kGuard}));
  Bytes quad = kQuad;
  ASSERT_EQ(LxDataInterchange(quad.data(), quad.data(), 4, 2, 16, 0), LX_OK);
  EXPECT_EQ(Bytes(quad.begin(), quad.begin() + 8), (Bytes{2, 3, 6, 7, 12, 13, 16, 17}));
}

TEST(DataInterchange, RefusalsWriteNothing) {
  Bytes out = guarded(32);
  const Bytes untouched = out;
  EXPECT_EQ(LxDataInterchange(nullptr, kQuad.data(), 4, 2, 16, 0), LX_PARAMETER_INVALID);
  EXPECT_EQ(LxDataInterchange(out.data(), nullptr, 4, 2, 16, 0), LX_PARAMETER_INVALID);
  EXPECT_EQ(LxDataInterchange(out.data(), kQuad.data(), 0, 2, 16, 0), LX_PARAMETER_INVALID);
  EXPECT_EQ(LxDataInterchange(out.data(), kQuad.data(), 4, -2, 16, 0), LX_PARAMETER_INVALID);
  EXPECT_EQ(LxDataInterchange(out.data(), kQuad.data(), 4, 2, 0, 0), LX_PARAMETER_INVALID);
  EXPECT_EQ(LxDataInterchange(out.data(), kQuad.data(), 4, 2, 16, -1), LX_PARAMETER_INVALID);
  EXPECT_EQ(LxDataInterchange(out.data(), kQuad.data(), 4, 2, 16, 5), LX_PARAMETER_INVALID);
  EXPECT_EQ(LxDataInterchange(out.data(), kQuad.data(), INT32_MAX, INT32_MAX, 32, 4), LX_PARAMETER_INVALID);
  EXPECT_EQ(out, untouched);
}

}  // namespace
