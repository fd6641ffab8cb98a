// lxsnap's pieces without a machine: names and geometry on the command line,
// the command line itself, the frame shape, the conversions into images, the
// bitmap file's bytes, and the counting of a continuous snap.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bitmap_file.h"
#include "card_session.h"
#include "command_line.h"
#include "frame_image.h"
#include "frame_tick.h"
#include "lx/snap_ex.h"
#include "stream_meter.h"
#include "video_names.h"
#include "window_geometry.h"

using namespace lxsnap;

namespace {

TEST(InputNames, NameKindAndNumberFromOne) {
  const auto composite = parseInput("composite1");
  ASSERT_TRUE(composite);
  EXPECT_EQ(composite->kind, LX_VIDEO_SOURCE_COMPOSITE);
  EXPECT_EQ(composite->number, 0);
  const auto svideo = parseInput("svideo2");
  ASSERT_TRUE(svideo);
  EXPECT_EQ(svideo->kind, LX_VIDEO_SOURCE_SVIDEO);
  EXPECT_EQ(svideo->number, 1);
  const auto ycbcr = parseInput("ycbcr8");
  ASSERT_TRUE(ycbcr);
  EXPECT_EQ(ycbcr->kind, LX_VIDEO_SOURCE_YCBCR);
  EXPECT_EQ(ycbcr->number, 7);
  EXPECT_EQ(inputName({LX_VIDEO_SOURCE_SVIDEO, 0}), "svideo1");
  EXPECT_EQ(inputName({LX_VIDEO_SOURCE_COMPOSITE, 3}), "composite4");
  for (const char* bad : {"composite0", "composite01", "composite", "composite9", "composite1x", "composite+1",
                          "comp1", "COMPOSITE1", "svideo-1", "ycbcr99999999999", ""}) {
    EXPECT_FALSE(parseInput(bad)) << bad;
  }
}

TEST(WindowGeometry, SizeAloneOrSizeAndOrigin) {
  const auto scaled = parseWindowGeometry("768x576");
  ASSERT_TRUE(scaled);
  EXPECT_EQ(scaled->width, 768);
  EXPECT_EQ(scaled->height, 576);
  EXPECT_FALSE(scaled->hasOrigin);
  const auto cut = parseWindowGeometry("320x240+100+50");
  ASSERT_TRUE(cut);
  EXPECT_TRUE(cut->hasOrigin);
  EXPECT_EQ(cut->x, 100);
  EXPECT_EQ(cut->y, 50);
  EXPECT_EQ(cut->width, 320);
  EXPECT_EQ(toString(*cut), "320x240+100+50");
  for (const char* bad : {"640", "640x", "x480", "640x480+1", "640x480+1+2+3", "-1x2", "640x480-1-2", "123456x1",
                          "640X480", " 640x480", "640x480 ", "+1+2"}) {
    EXPECT_FALSE(parseWindowGeometry(bad)) << bad;
  }
}

// Runs the parser over `words` (the program name first).
std::optional<int> parse(std::vector<std::string> words, Options* options) {
  std::vector<char*> argv;
  for (std::string& word : words) {
    argv.push_back(word.data());
  }
  return parseCommandLine(static_cast<int>(argv.size()), argv.data(), options);
}

TEST(CommandLine, SettingsLandInTheOptions) {
  Options options;
  ASSERT_FALSE(parse({"lxsnap", "--card", "2", "--input", "svideo1", "--std", "ntsc", "--format", "grey-limited",
                      "--window", "320x240+8+4", "--scan", "field1", "--frames", "3", "--out", "d", "--as", "png"},
                     &options));
  EXPECT_EQ(options.mode, Mode::Snap);
  EXPECT_EQ(options.video.card, 2);
  ASSERT_TRUE(options.video.input);
  EXPECT_EQ(options.video.input->kind, LX_VIDEO_SOURCE_SVIDEO);
  EXPECT_EQ(options.video.standard, LX_VIDEO_STANDARD_NTSC);
  EXPECT_EQ(options.video.format, LX_VIDEO_FORMAT_GREY8_LIMITED);
  EXPECT_EQ(options.video.scan, LX_SCAN_MODE_FIELD1);
  EXPECT_TRUE(options.video.window.hasOrigin);
  EXPECT_EQ(options.frames, 3);
  EXPECT_EQ(options.directory, "d");
  EXPECT_EQ(options.fileKind, FileKind::Png);

  // The short forms the run script uses; unset settings stay the card's.
  Options plain;
  ASSERT_FALSE(parse({"lxsnap", "-n", "7", "-o", "shots"}, &plain));
  EXPECT_EQ(plain.frames, 7);
  EXPECT_EQ(plain.directory, "shots");
  EXPECT_FALSE(plain.video.input);
  EXPECT_FALSE(plain.video.standard);
  EXPECT_EQ(plain.video.format, LX_VIDEO_FORMAT_RGB888);
  EXPECT_EQ(plain.fileKind, FileKind::Bmp);

  Options stream;
  ASSERT_FALSE(parse({"lxsnap", "--stream", "--seconds", "2.5"}, &stream));
  EXPECT_EQ(stream.mode, Mode::Stream);
  EXPECT_DOUBLE_EQ(stream.seconds, 2.5);
  Options list;
  ASSERT_FALSE(parse({"lxsnap", "--list"}, &list));
  EXPECT_EQ(list.mode, Mode::List);
}

TEST(CommandLine, UnusableLinesAreRefused) {
  for (std::vector<std::string> words : std::vector<std::vector<std::string>>{
           {"lxsnap", "--format", "rgb999"},
           {"lxsnap", "--frames", "0"},
           {"lxsnap", "--frames", "65536"},
           {"lxsnap", "--card", "0"},
           {"lxsnap", "--card", "129"},
           {"lxsnap", "--input", "composite0"},
           {"lxsnap", "--window", "640"},
           {"lxsnap", "--as", "jpeg"},
           {"lxsnap", "--list", "--frames", "3"},
           {"lxsnap", "--list", "--stream"},
           {"lxsnap", "--stream", "--as", "png"},
           {"lxsnap", "--seconds", "3"},
           {"lxsnap", "--stream", "--seconds", "-1"},
           {"lxsnap", "extra"},
       }) {
    Options options;
    EXPECT_EQ(parse(words, &options), kUsageExit) << words[1] << " " << words.back();
  }
  Options options;
  EXPECT_EQ(parse({"lxsnap", "--help"}, &options), 0);
}

TEST(FrameLayout, TheApiArithmetic) {
  VideoSettings video;
  video.window = {640, 481, false, 0, 0};  // an odd height loses its last line
  video.format = LX_VIDEO_FORMAT_RGB8888;
  const FrameLayout frame = frameLayoutOf(video);
  EXPECT_EQ(frame.width, 640u);
  EXPECT_EQ(frame.lines, 480u);
  EXPECT_EQ(frame.bytes(), 640u * 480 * 4);
  video.scan = LX_SCAN_MODE_FIELD1;
  video.format = LX_VIDEO_FORMAT_GREY8_FULL;
  const FrameLayout field = frameLayoutOf(video);
  EXPECT_EQ(field.lines, 240u);
  EXPECT_EQ(field.bytes(), 640u * 240);
}

FrameLayout layout(uint32_t width, uint32_t lines, int32_t format) {
  return {width, lines, format, static_cast<uint32_t>(LxBytesPerPixel(format))};
}

TEST(FrameImage, PackedCardLinesBecomeImageLines) {
  // Three 5-6-5 pixels a line: 6 bytes, not a padded bitmap line.
  const uint8_t rgb565[] = {0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00,   // red, green, blue
                            0xFF, 0xFF, 0x00, 0x00, 0x1F, 0xF8};  // white, black, magenta
  Image image;
  ASSERT_EQ(frameToImage(rgb565, layout(3, 2, LX_VIDEO_FORMAT_RGB565), &image), LX_OK);
  EXPECT_EQ(image.width, 3u);
  EXPECT_EQ(image.height, 2u);
  EXPECT_EQ(image.channels, 3u);
  const std::vector<uint8_t> expected = {0x00, 0x00, 0xF8, 0x00, 0xFC, 0x00, 0xF8, 0x00, 0x00,
                                         0xF8, 0xFC, 0xF8, 0x00, 0x00, 0x00, 0xF8, 0x00, 0xF8};
  EXPECT_EQ(image.pixels, expected);

  const uint8_t rgb555[] = {0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x80};  // red, green, blue (bit 15 ignored)
  ASSERT_EQ(frameToImage(rgb555, layout(3, 1, LX_VIDEO_FORMAT_RGB555), &image), LX_OK);
  EXPECT_EQ(image.pixels, (std::vector<uint8_t>{0x00, 0x00, 0xF8, 0x00, 0xF8, 0x00, 0xF8, 0x00, 0x00}));

  const uint8_t rgb8888[] = {1, 2, 3, 99, 4, 5, 6, 99};
  ASSERT_EQ(frameToImage(rgb8888, layout(1, 2, LX_VIDEO_FORMAT_RGB8888), &image), LX_OK);
  EXPECT_EQ(image.pixels, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));

  const uint8_t grey[] = {16, 128, 235, 0, 1, 2, 3, 255};
  ASSERT_EQ(frameToImage(grey, layout(4, 2, LX_VIDEO_FORMAT_GREY8_LIMITED), &image), LX_OK);
  EXPECT_EQ(image.channels, 1u);
  EXPECT_EQ(image.pixels, std::vector<uint8_t>(std::begin(grey), std::end(grey)));

  EXPECT_EQ(frameToImage(grey, layout(4, 2, 7), &image), LX_PARAMETER_INVALID);
}

TEST(FrameImage, YuvStudioRangeToColour) {
  // White and black sharing one U and V, then red (Y 81, U 90, V 240) twice.
  const uint8_t yuv[] = {235, 128, 16, 128, 81, 90, 81, 240};
  uint8_t bgr[12] = {};
  yuv422LineToBgr(yuv, 4, bgr);
  EXPECT_EQ(std::vector<uint8_t>(bgr, bgr + 12), (std::vector<uint8_t>{255, 255, 255, 0, 0, 0, 0, 0, 255, 0, 0, 255}));
  // An odd width: the last pixel has no V byte and is read without one.
  uint8_t odd[9] = {};
  yuv422LineToBgr(yuv, 3, odd);
  EXPECT_EQ(std::vector<uint8_t>(odd + 6, odd + 9), (std::vector<uint8_t>{0, 91, 76}));
}

std::vector<uint8_t> fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t word32(const std::vector<uint8_t>& bytes, size_t at) {
  uint32_t value = 0;
  std::memcpy(&value, bytes.data() + at, 4);
  return value;
}

class BitmapFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/lxsnap-unit-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    directory_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(directory_); }
  std::string directory_;
};

TEST_F(BitmapFile, ColourLinesBottomUpPaddedToFourBytes) {
  Image image{3, 2, 3, {}};
  for (uint8_t i = 0; i < 18; ++i) {
    image.pixels.push_back(i);
  }
  const std::string path = directory_ + "/colour.bmp";
  ASSERT_TRUE(writeBitmapFile(path, image));
  const auto bytes = fileBytes(path);
  ASSERT_EQ(bytes.size(), 54u + 2 * 12);
  EXPECT_EQ(bytes[0], 'B');
  EXPECT_EQ(bytes[1], 'M');
  EXPECT_EQ(word32(bytes, 2), 78u);   // file size
  EXPECT_EQ(word32(bytes, 10), 54u);  // pixels after the two headers
  EXPECT_EQ(word32(bytes, 18), 3u);
  EXPECT_EQ(word32(bytes, 22), 2u);
  EXPECT_EQ(bytes[28], 24);
  EXPECT_EQ(word32(bytes, 34), 24u);  // image bytes
  // The bottom line first, each followed by 3 bytes of padding.
  const std::vector<uint8_t> lines(bytes.begin() + 54, bytes.end());
  EXPECT_EQ(lines, (std::vector<uint8_t>{9, 10, 11, 12, 13, 14, 15, 16, 17, 0, 0, 0,  //
                                         0, 1, 2, 3, 4, 5, 6, 7, 8, 0, 0, 0}));
}

TEST_F(BitmapFile, GreyWithAGreyPalette) {
  Image image{3, 2, 1, {10, 20, 30, 40, 50, 60}};
  const std::string path = directory_ + "/grey.bmp";
  ASSERT_TRUE(writeBitmapFile(path, image));
  const auto bytes = fileBytes(path);
  ASSERT_EQ(bytes.size(), 54u + 1024 + 2 * 4);
  EXPECT_EQ(word32(bytes, 10), 54u + 1024);
  EXPECT_EQ(bytes[28], 8);
  EXPECT_EQ(word32(bytes, 46), 256u);  // colours used
  EXPECT_EQ(word32(bytes, 54 + 4 * 200), 0x00C8C8C8u);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 1078, bytes.end()),
            (std::vector<uint8_t>{40, 50, 60, 0, 10, 20, 30, 0}));
}

TEST_F(BitmapFile, RefusesAnImageThatIsNotWhatItSays) {
  Image shortImage{3, 2, 3, std::vector<uint8_t>(17)};
  EXPECT_FALSE(writeBitmapFile(directory_ + "/short.bmp", shortImage));
  Image twoChannels{1, 1, 2, std::vector<uint8_t>(2)};
  EXPECT_FALSE(writeBitmapFile(directory_ + "/two.bmp", twoChannels));
  EXPECT_FALSE(std::filesystem::exists(directory_ + "/short.bmp"));
  Image fine{1, 1, 1, {7}};
  EXPECT_FALSE(writeBitmapFile(directory_ + "/missing/fine.bmp", fine));
}

TEST(FrameTick, TheCardsOwnAccount) {
  SnapExInfo info{nullptr, 1, 0, nullptr, 1'000'000, 17, 3};
  const FrameTick tick = frameTickOf(info, 1'250'000);
  EXPECT_EQ(tick.sequence, 17u);
  EXPECT_EQ(tick.skipped, 3u);
  ASSERT_TRUE(tick.latencyNs);
  EXPECT_EQ(*tick.latencyNs, 250'000u);
  // A stamp after the callback's clock reading is no negative latency.
  info.timestampNs = 2'000'000;
  EXPECT_EQ(frameTickOf(info, 1'250'000).latencyNs, 0u);
}

TEST(StreamMeter, TalliesAndLines) {
  StreamMeter meter;
  meter.record({1, 0, std::nullopt});
  meter.record({3, 1, std::nullopt});
  StreamReading reading = meter.read();
  EXPECT_EQ(reading.delivered, 2u);
  EXPECT_EQ(reading.skipped, 1u);
  EXPECT_EQ(reading.sequence, 3u);
  EXPECT_EQ(summaryLine(reading, 0.5), "2 frames in 0.5 s: 4.0 frames/s, skipped 1, latency n/a");

  meter.record({4, 0, 2'000'000});
  meter.record({5, 0, 4'000'000});
  const StreamReading later = meter.read();
  EXPECT_EQ(later.latencyMaxNs, 4'000'000u);
  EXPECT_EQ(liveLine(later, reading, 0.5, 1.0, 10),
            "   1.0 s    4.0 frames/s  4 frames  skipped 1  latency 3.00 ms (max 4.00)  [##..................]  10%");
  // Short runs have no bar.
  EXPECT_EQ(liveLine(later, reading, 0.5, 1.0, 2).find('['), std::string::npos);
  EXPECT_EQ(progressBar(5, 10, 10), "[#####.....]  50%");
  EXPECT_EQ(progressBar(12, 10, 4), "[####] 100%");
  EXPECT_EQ(progressBar(1, 0, 4), "[....]   0%");
}

}  // namespace
