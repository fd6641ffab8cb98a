// Bitmap files of the display image: byte layout as written, what Pillow
// makes of them, and refusal of files that would not fit or are cut short.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "democommon/bitmap_file.h"

namespace {

namespace fs = std::filesystem;

class BitmapFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("democommon_bmp_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    ASSERT_TRUE(image_.allocate());
    demo::resetImageHeader(&image_.header);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string path(const char* name) const { return (dir_ / name).string(); }

  static std::vector<uint8_t> bytesOf(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  static uint32_t u32(const std::vector<uint8_t>& b, size_t at) {
    uint32_t v = 0;
    std::memcpy(&v, b.data() + at, 4);
    return v;
  }
  void shape(int width, int height, int bits) {
    image_.header.info.biWidth = width;
    image_.header.info.biHeight = height;
    image_.header.info.biBitCount = static_cast<WORD>(bits);
  }
  static std::string pillow(const std::string& file) {
    const std::string out = file + ".txt";
    const std::string command = std::string(DEMO_PYTHON) + " -c \"from PIL import Image; im = Image.open('" + file +
                                "'); open('" + out + "', 'w').write('%dx%d %s' % (im.size[0], im.size[1], im.mode))\"";
    if (std::system(command.c_str()) != 0) return "pillow failed";
    std::ifstream in(out);
    std::string line;
    std::getline(in, line);
    return line;
  }

  fs::path dir_;
  demo::DisplayImage image_;
};

TEST_F(BitmapFile, TwentyFourBitRowsArePaddedAndPixelsFollowTheHeaders) {
  shape(766, 3, 24);
  for (uint32_t i = 0; i < 2300 * 3; ++i) image_.pixels[i] = static_cast<uint8_t>(i * 7);
  ASSERT_EQ(demo::saveBitmapFile(image_, path("wide.bmp")), 1);
  const auto b = bytesOf(path("wide.bmp"));
  ASSERT_EQ(b.size(), 54u + 2300u * 3u) << "rows of 2,298 pixel bytes and 2 of padding";
  EXPECT_EQ(b[0], 'B');
  EXPECT_EQ(b[1], 'M');
  EXPECT_EQ(u32(b, 2), 54u + 6900u);
  EXPECT_EQ(u32(b, 6), 0u);
  EXPECT_EQ(u32(b, 10), 54u);
  EXPECT_EQ(u32(b, 14), 40u);
  EXPECT_EQ(u32(b, 18), 766u);
  EXPECT_EQ(u32(b, 22), 3u);
  EXPECT_EQ(b[28], 24);
  EXPECT_EQ(b[54 + 2300], static_cast<uint8_t>(2300 * 7)) << "the second row starts at 2,300";
  EXPECT_EQ(pillow(path("wide.bmp")), "766x3 RGB");
}

TEST_F(BitmapFile, EightBitImagesCarryTheGreyColourTable) {
  shape(10, 2, 8);
  ASSERT_EQ(demo::saveBitmapFile(image_, path("grey.bmp")), 1);
  const auto b = bytesOf(path("grey.bmp"));
  ASSERT_EQ(b.size(), 1078u + 12u * 2u);
  EXPECT_EQ(u32(b, 10), 1078u);
  EXPECT_EQ(u32(b, 2), 1078u + 24u);
  EXPECT_EQ(u32(b, 54 + 4 * 200), 0x00C8C8C8u) << "entry 200 is (200, 200, 200, 0)";
  EXPECT_EQ(pillow(path("grey.bmp")), "10x2 L");
}

TEST_F(BitmapFile, NothingCapturedWritesNoFile) {
  EXPECT_EQ(demo::saveBitmapFile(image_, path("empty.bmp")), 0);
  EXPECT_FALSE(fs::exists(path("empty.bmp")));
  EXPECT_EQ(demo::saveBitmapFile(image_, ""), 1) << "no path: nothing to do";
  EXPECT_EQ(demo::saveBitmapFile(image_, (dir_ / "missing" / "x.bmp").string()), 0);
}

TEST_F(BitmapFile, LoadingTakesTheFilesHeaderColoursAndPixels) {
  shape(8, 4, 8);
  image_.header.colours[3] = RGBQUAD{1, 2, 3, 0};
  for (int i = 0; i < 32; ++i) image_.pixels[i] = static_cast<uint8_t>(100 + i);
  ASSERT_EQ(demo::saveBitmapFile(image_, path("in.bmp")), 1);

  demo::DisplayImage loaded;
  ASSERT_TRUE(loaded.allocate());
  demo::resetImageHeader(&loaded.header);
  ASSERT_EQ(demo::loadBitmapFile(loaded, path("in.bmp")), 1);
  EXPECT_EQ(loaded.width(), 8);
  EXPECT_EQ(loaded.height(), 4);
  EXPECT_EQ(loaded.bitCount(), 8);
  EXPECT_EQ(loaded.header.colours[3].rgbRed, 3);
  EXPECT_EQ(0, std::memcmp(loaded.pixels.get(), image_.pixels.get(), 32));
  EXPECT_EQ(loaded.pixels[32], 0xFF) << "beyond the file's pixels the buffer is as it was";
}

class BadBitmap : public BitmapFile {
 protected:
  // A valid 24-bit 4 x 2 file, then the test spoils it.
  std::vector<uint8_t> goodFile() {
    shape(4, 2, 24);
    EXPECT_EQ(demo::saveBitmapFile(image_, path("good.bmp")), 1);
    return bytesOf(path("good.bmp"));
  }
  void write(const char* name, const std::vector<uint8_t>& bytes) {
    std::ofstream(path(name), std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                      static_cast<std::streamsize>(bytes.size()));
  }
  // Loading is refused and the image keeps its header and pixels.
  void expectRefused(const char* name) {
    demo::DisplayImage target;
    ASSERT_TRUE(target.allocate());
    demo::resetImageHeader(&target.header);
    target.header.info.biWidth = 77;
    target.pixels[0] = 0x12;
    EXPECT_EQ(demo::loadBitmapFile(target, path(name)), 0) << name;
    EXPECT_EQ(target.width(), 77) << name;
    EXPECT_EQ(target.pixels[0], 0x12) << name;
  }
};

TEST_F(BadBitmap, TruncatedOversizedAndForeignFilesAreRefused) {
  auto bytes = goodFile();
  write("truncated.bmp", std::vector<uint8_t>(bytes.begin(), bytes.end() - 1));
  expectRefused("truncated.bmp");
  write("header_only.bmp", std::vector<uint8_t>(bytes.begin(), bytes.begin() + 20));
  expectRefused("header_only.bmp");

  auto huge = bytes;
  const int32_t side = 100000;
  std::memcpy(huge.data() + 18, &side, 4);
  std::memcpy(huge.data() + 22, &side, 4);
  write("huge.bmp", huge);
  expectRefused("huge.bmp");

  auto big = bytes;
  const int32_t width = 769, height = 576;  // 32-bit: one column more than the buffer holds
  const uint16_t bits = 32;
  std::memcpy(big.data() + 18, &width, 4);
  std::memcpy(big.data() + 22, &height, 4);
  std::memcpy(big.data() + 28, &bits, 2);
  write("big.bmp", big);
  expectRefused("big.bmp");

  auto topDown = bytes;
  const int32_t negative = -2;
  std::memcpy(topDown.data() + 22, &negative, 4);
  write("top_down.bmp", topDown);
  expectRefused("top_down.bmp");

  auto notBm = bytes;
  notBm[0] = 'X';
  write("not_bm.bmp", notBm);
  expectRefused("not_bm.bmp");

  // An 8-bit file whose colour table would run past 256 entries.
  shape(4, 2, 8);
  ASSERT_EQ(demo::saveBitmapFile(image_, path("eight.bmp")), 1);
  auto manyColours = bytesOf(path("eight.bmp"));
  const uint32_t offset = 1078 + 4;
  std::memcpy(manyColours.data() + 10, &offset, 4);
  manyColours.insert(manyColours.begin() + 1078, 4, 0);
  write("many_colours.bmp", manyColours);
  expectRefused("many_colours.bmp");

  expectRefused("does_not_exist.bmp");
}

}  // namespace
