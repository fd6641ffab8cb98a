// Loading bitmaps from bytes in memory: the same checks as the file loader,
// and header sizes whose offsets would wrap in 32 bits.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "democommon/bitmap_file.h"

namespace {

namespace fs = std::filesystem;

// A file of the given information-header size and colour-table length with
// pixels counting up from 1.
std::vector<uint8_t> makeBitmap(int width, int height, int bits, uint32_t infoSize, uint32_t tableBytes,
                                uint32_t pixelOffset, size_t pixelBytes) {
  std::vector<uint8_t> bytes(pixelOffset + pixelBytes, 0);
  const demo::BitmapFileHeader fileHeader{demo::kBitmapType, static_cast<uint32_t>(bytes.size()), 0, 0, pixelOffset};
  std::memcpy(bytes.data(), &fileHeader, sizeof fileHeader);
  BITMAPINFOHEADER info{};
  info.biSize = infoSize;
  info.biWidth = width;
  info.biHeight = height;
  info.biPlanes = 1;
  info.biBitCount = static_cast<WORD>(bits);
  info.biCompression = BI_RGB;
  std::memcpy(bytes.data() + 14, &info, sizeof info);
  for (uint32_t i = 0; i < tableBytes; ++i) bytes[14 + infoSize + i] = static_cast<uint8_t>(0x80 + i);
  for (size_t i = 0; i < pixelBytes; ++i) bytes[pixelOffset + i] = static_cast<uint8_t>(i + 1);
  return bytes;
}

class BitmapBytes : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(image_.allocate());
    demo::resetImageHeader(&image_.header);
    image_.header.info.biWidth = 7;
    image_.header.info.biHeight = 5;
    image_.header.info.biBitCount = 8;
    before_ = image_.header;
  }
  void expectUnchanged() const {
    EXPECT_EQ(std::memcmp(&before_, &image_.header, sizeof before_), 0);
    for (uint32_t i = 0; i < demo::kImageBufferBytes; ++i) {
      if (image_.pixels[i] != 0xFF) {
        ADD_FAILURE() << "pixel byte " << i << " changed";
        return;
      }
    }
  }

  demo::DisplayImage image_;
  demo::ImageHeader before_{};
};

TEST_F(BitmapBytes, InformationHeaderSizeThatWrapsTheTableOffsetIsRefused) {
  // 14 + 0xFFFFFFF2 wraps to 0 in 32 bits: a 24-bit file with pixels at 54
  // would pass a 32-bit check although its header claims to run past 4 GiB.
  std::vector<uint8_t> bytes = makeBitmap(2, 2, 24, 40, 0, 54, 16);
  const uint32_t hugeInfoSize = 0xFFFFFFF2u;
  std::memcpy(bytes.data() + 14, &hugeInfoSize, sizeof hugeInfoSize);
  EXPECT_EQ(demo::loadBitmapBytes(image_, bytes.data(), bytes.size()), 0);
  expectUnchanged();

  const fs::path file = fs::temp_directory_path() / ("democommon_wrap_" + std::to_string(::getpid()) + ".bmp");
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
  EXPECT_EQ(demo::loadBitmapFile(image_, file.string()), 0);
  fs::remove(file);
  expectUnchanged();
}

TEST_F(BitmapBytes, LongerInformationHeaderPutsTheColourTableAfterIt) {
  // 108-byte header, a 4-entry table, 3 x 2 pixels of 8 bits (rows of 4).
  const std::vector<uint8_t> bytes = makeBitmap(3, 2, 8, 108, 16, 14 + 108 + 16, 8);
  ASSERT_EQ(demo::loadBitmapBytes(image_, bytes.data(), bytes.size()), 1);
  EXPECT_EQ(image_.header.info.biSize, 40u);
  EXPECT_EQ(image_.width(), 3);
  EXPECT_EQ(image_.height(), 2);
  EXPECT_EQ(image_.bitCount(), 8);
  EXPECT_EQ(image_.header.colours[0].rgbBlue, 0x80);
  EXPECT_EQ(image_.header.colours[3].rgbReserved, 0x8F);
  // Entries past the file's table keep the previous colours.
  EXPECT_EQ(image_.header.colours[4].rgbBlue, 4);
  EXPECT_EQ(image_.header.colours[255].rgbRed, 255);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(image_.pixels[i], i + 1);
  EXPECT_EQ(image_.pixels[8], 0xFF);
}

TEST_F(BitmapBytes, ShortBytesAndMissingDataAreRefused) {
  const std::vector<uint8_t> bytes = makeBitmap(3, 2, 24, 40, 0, 54, 24);
  EXPECT_EQ(demo::loadBitmapBytes(image_, bytes.data(), bytes.size() - 1), 0);
  EXPECT_EQ(demo::loadBitmapBytes(image_, bytes.data(), 14 + 39), 0);
  EXPECT_EQ(demo::loadBitmapBytes(image_, bytes.data(), 0), 0);
  EXPECT_EQ(demo::loadBitmapBytes(image_, nullptr, 0), 0);
  EXPECT_EQ(demo::loadBitmapBytes(image_, nullptr, bytes.size()), 0);
  expectUnchanged();
  ASSERT_EQ(demo::loadBitmapBytes(image_, bytes.data(), bytes.size()), 1);
  EXPECT_EQ(image_.bitCount(), 24);
  EXPECT_EQ(image_.pixels[23], 24);
}

}  // namespace
