// The lxsnap program against a private machine at the standard's own speed:
// the card list, snaps written as bitmap, PNG and raw files (read back by
// Pillow and decoded: whole frames in order), the continuous snap's
// account, and what a person is told after a bad command line, with no
// machine and with no card.
#include <gtest/gtest.h>
#include <png.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "bars_decoder.h"
#include "line_stamp.h"
#include "private_machine.h"

namespace {

using lxhw::tern::PixelFormat;
using lxm::testing::PrivateMachine;
using lxm::testing::ToolResult;

// Card 1 has stamped bars (every line carries its field and frame line) on
// the multiplexer inputs of composite1 and composite2;
// card 2 answers without a signature. Clock factor 1: 50 fields a second, so
// a snap's hand-over has a whole field time even on a busy host.
constexpr char kTwoCards[] =
    "[clock]\nfactor = 1.0\n\n"
    "[[terncard]]\nsources = [\"none\", \"stamp:3\", \"none\", \"stamp:3\"]\n\n"
    "[[terncard]]\nsignature = false\nrevision = 0x13\n";

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class LxsnapMachine : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    machine_ = new PrivateMachine(LXSNAP_LXMACHINE, kTwoCards);
    booted_ = machine_->boot();
  }
  static void TearDownTestSuite() {
    delete machine_;
    machine_ = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(booted_) << machine_->lxmachine({"status"}).output;
    out_ = machine_->directory() + "/out-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
  }

  static ToolResult lxsnap(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), LXSNAP_PROGRAM);
    return lxm::testing::runProgram(arguments, 120, {"LX_MACHINE=" + machine_->directory()});
  }

  // "frame000.png 640x480 RGB" lines, as Pillow sees the files.
  static std::string pillowSays(const std::vector<std::string>& paths) {
    std::vector<std::string> arguments = {LXSNAP_PYTHON, LXSNAP_IMAGE_INFO};
    arguments.insert(arguments.end(), paths.begin(), paths.end());
    const ToolResult result = lxm::testing::runProgram(arguments);
    EXPECT_EQ(result.exitStatus, 0) << result.output;
    return result.output;
  }

  std::string file(const std::string& name) const { return out_ + "/" + name; }

  static PrivateMachine* machine_;
  static bool booted_;
  std::string out_;
};

PrivateMachine* LxsnapMachine::machine_ = nullptr;
bool LxsnapMachine::booted_ = false;

std::vector<uint8_t> fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A picture read back from a file: top line first, `stride` bytes a line.
struct Picture {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t stride = 0;
  PixelFormat format = PixelFormat::Rgb24;
  std::vector<uint8_t> pixels;
};

uint32_t word32(const std::vector<uint8_t>& bytes, size_t at) {
  uint32_t value = 0;
  std::memcpy(&value, bytes.data() + at, 4);
  return value;
}

// A bottom-up 24-bit or 8-bit bitmap file, turned top-down.
std::optional<Picture> readBitmap(const std::string& path) {
  const auto bytes = fileBytes(path);
  if (bytes.size() < 54 || bytes[0] != 'B' || bytes[1] != 'M') {
    return std::nullopt;
  }
  Picture picture;
  picture.width = word32(bytes, 18);
  picture.height = word32(bytes, 22);
  const uint32_t bytesPerPixel = bytes[28] / 8u;
  picture.format = bytesPerPixel == 1 ? PixelFormat::Grey8 : PixelFormat::Rgb24;
  picture.stride = picture.width * bytesPerPixel;
  const uint32_t padded = (picture.stride + 3) & ~3u;
  const uint32_t offset = word32(bytes, 10);
  if (bytes.size() != offset + size_t{padded} * picture.height) {
    return std::nullopt;
  }
  for (uint32_t y = picture.height; y-- > 0;) {
    const auto line = bytes.begin() + offset + size_t{y} * padded;
    picture.pixels.insert(picture.pixels.end(), line, line + picture.stride);
  }
  return picture;
}

// An 8-bit RGB or grey PNG file, as blue-green-red or grey bytes.
std::optional<Picture> readPng(const std::string& path, bool* grey) {
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_file(&png, path.c_str()) == 0) {
    return std::nullopt;
  }
  *grey = png.format == PNG_FORMAT_GRAY;
  if (png.format != PNG_FORMAT_GRAY && png.format != PNG_FORMAT_RGB) {
    png_image_free(&png);
    return std::nullopt;
  }
  Picture picture;
  picture.width = png.width;
  picture.height = png.height;
  picture.format = *grey ? PixelFormat::Grey8 : PixelFormat::Rgb24;
  png.format = *grey ? PNG_FORMAT_GRAY : PNG_FORMAT_BGR;
  picture.stride = png.width * (*grey ? 1 : 3);
  picture.pixels.resize(PNG_IMAGE_SIZE(png));
  if (png_image_finish_read(&png, nullptr, picture.pixels.data(), 0, nullptr) == 0) {
    return std::nullopt;
  }
  return picture;
}

// The field number the bars carry in the field at `firstLine`, every
// `lineStep`-th line of the picture; the source is 768 samples by 288 lines
// a field, scaled to the picture.
std::optional<uint32_t> fieldNumber(const Picture& picture, uint32_t firstLine, uint32_t lineStep,
                                    uint32_t fieldLines) {
  lxtest::CapturedField field;
  field.pixels = picture.pixels.data() + size_t{firstLine} * picture.stride;
  field.width = picture.width;
  field.lines = fieldLines;
  field.stride = picture.stride * lineStep;
  field.format = picture.format;
  field.samplesPerPixel = 768.0 / picture.width;
  field.fieldLinesPerLine = 288.0 / fieldLines;
  return lxtest::decodeFieldNumber(field);
}

// Frames of two interleaved fields: each a first and a second field in a
// row, and each frame after the previous. (The card library takes the next
// frame when a hand-over comes late on a loaded host, so adjacent frames are
// the rule but not guaranteed; a frame out of order or torn never is.)
void expectWholeFramesInOrder(const std::vector<Picture>& frames) {
  std::optional<uint32_t> previousSecond;
  for (size_t k = 0; k < frames.size(); ++k) {
    const uint32_t fieldLines = frames[k].height / 2;
    const auto first = fieldNumber(frames[k], 0, 2, fieldLines);
    const auto second = fieldNumber(frames[k], 1, 2, fieldLines);
    ASSERT_TRUE(first && second) << "frame " << k << " carries no field numbers";
    EXPECT_EQ(*first % 2, 0u) << "frame " << k << " starts with a first field";
    EXPECT_EQ(*second, *first + 1) << "frame " << k;
    if (previousSecond) {
      EXPECT_GT(*first, *previousSecond) << "frame " << k << " follows frame " << k - 1;
    }
    previousSecond = second;
  }
}

TEST_F(LxsnapMachine, ListShowsEveryCardAndItsInputs) {
  const ToolResult result = lxsnap({"--list"});
  EXPECT_EQ(result.exitStatus, 0) << result.output;
  EXPECT_EQ(result.output,
            "2 cards\n"
            "card 1: TernCard, slot 8 (bus 0, device 8, function 0), signature KZ, revision 2.1\n"
            "  composite1   signal\n"
            "  composite2   signal\n"
            "  composite3   no signal\n"
            "card 2: TernCard, slot 9 (bus 0, device 9, function 0), signature none, revision 1.3\n"
            "  composite1   no signal\n"
            "  composite2   signal\n"
            "  composite3   no signal\n"
            "  composite4   no signal\n"
            "  svideo1      no signal\n");
}

TEST_F(LxsnapMachine, ThreeFramesAsBitmapsAreWholeAndInOrder) {
  const ToolResult result =
      lxsnap({"--card", "1", "--input", "composite1", "--std", "pal", "--format", "rgb888", "--window", "768x576",
              "--frames", "3", "--out", out_, "--as", "bmp"});
  ASSERT_EQ(result.exitStatus, 0) << result.output;
  EXPECT_TRUE(contains(result.output, "frame 2: " + file("frame002.bmp") + " 768x576 24-bit colour")) << result.output;
  EXPECT_FALSE(std::filesystem::exists(file("frame003.bmp")));
  EXPECT_EQ(pillowSays({file("frame000.bmp"), file("frame001.bmp"), file("frame002.bmp")}),
            "frame000.bmp 768x576 RGB\nframe001.bmp 768x576 RGB\nframe002.bmp 768x576 RGB\n");
  std::vector<Picture> frames;
  for (const char* name : {"frame000.bmp", "frame001.bmp", "frame002.bmp"}) {
    auto picture = readBitmap(file(name));
    ASSERT_TRUE(picture) << name;
    frames.push_back(std::move(*picture));
  }
  expectWholeFramesInOrder(frames);
  // Unscaled, every line's stamp reads: line k of each file is frame line k
  // of that frame's two fields (black and white stamps read alike in any
  // channel order).
  for (size_t n = 0; n < frames.size(); ++n) {
    std::optional<uint32_t> firstField;
    for (uint32_t k = 0; k < frames[n].height; ++k) {
      const auto stamp = lxtest::decodeLineStamp(frames[n].pixels.data() + size_t{k} * frames[n].stride,
                                                 static_cast<int>(frames[n].width), 1);
      ASSERT_TRUE(stamp) << "frame " << n << ", line " << k;
      EXPECT_EQ(stamp->frameLine, k) << "frame " << n;
      EXPECT_EQ(stamp->sourceId, 3u);
      const uint32_t first = stamp->field - (k & 1);
      if (!firstField) firstField = first;
      ASSERT_EQ(first, *firstField) << "frame " << n << ", line " << k << " is from another frame";
    }
  }
}

TEST_F(LxsnapMachine, ThreeFramesAsPngAreWholeInOrderAndScaled) {
  const ToolResult result =
      lxsnap({"--input", "composite2", "--format", "rgb565", "--frames", "3", "--out", out_, "--as", "png"});
  ASSERT_EQ(result.exitStatus, 0) << result.output;
  EXPECT_EQ(pillowSays({file("frame000.png"), file("frame001.png"), file("frame002.png")}),
            "frame000.png 640x480 RGB\nframe001.png 640x480 RGB\nframe002.png 640x480 RGB\n");
  std::vector<Picture> frames;
  for (const char* name : {"frame000.png", "frame001.png", "frame002.png"}) {
    bool grey = true;
    auto picture = readPng(file(name), &grey);
    ASSERT_TRUE(picture) << name;
    EXPECT_FALSE(grey);
    frames.push_back(std::move(*picture));
  }
  expectWholeFramesInOrder(frames);
}

TEST_F(LxsnapMachine, GreyFieldsAsPngAndBitmap) {
  for (const char* kind : {"png", "bmp"}) {
    const ToolResult result = lxsnap({"--format", "grey", "--window", "768x576", "--scan", "field", "--frames", "2",
                                      "--out", out_, "--as", kind});
    ASSERT_EQ(result.exitStatus, 0) << result.output;
    const std::string first = std::string("frame000.") + kind;
    EXPECT_EQ(pillowSays({file(first)}), first + " 768x288 L\n");
  }
  bool grey = false;
  const auto picture = readPng(file("frame000.png"), &grey);
  ASSERT_TRUE(picture);
  EXPECT_TRUE(grey);
  EXPECT_TRUE(fieldNumber(*picture, 0, 1, 288)) << "one whole field a picture";
}

TEST_F(LxsnapMachine, RawFilesHoldTheCardsBytes) {
  const ToolResult result = lxsnap({"--format", "rgb555", "--window", "768x576", "--frames", "3", "--out", out_,
                                    "--as", "raw"});
  ASSERT_EQ(result.exitStatus, 0) << result.output;
  EXPECT_TRUE(contains(result.output, "768x576 rgb555, 1536 bytes a line")) << result.output;
  std::vector<Picture> frames;
  for (const char* name : {"frame000.raw", "frame001.raw", "frame002.raw"}) {
    Picture picture{768, 576, 1536, PixelFormat::Rgb555, fileBytes(file(name))};
    ASSERT_EQ(picture.pixels.size(), 768u * 576 * 2) << name;
    frames.push_back(std::move(picture));
  }
  expectWholeFramesInOrder(frames);
}

TEST_F(LxsnapMachine, StreamAccountsForTheCardsFrames) {
  const ToolResult result = lxsnap({"--stream", "--seconds", "2"});
  ASSERT_EQ(result.exitStatus, 0) << result.output;
  EXPECT_TRUE(contains(result.output, "card 1: streaming 640x480 rgb888, scan frame, into a ring of 16 frames"))
      << result.output;
  // Not a terminal: one live line a second.
  EXPECT_TRUE(std::regex_search(result.output, std::regex(R"(\n +1\.\d s +\d+\.\d frames/s  \d+ frames  skipped)")))
      << result.output;
  std::smatch summary;
  ASSERT_TRUE(std::regex_search(result.output, summary,
                                std::regex(R"((\d+) frames in (\d+\.\d) s: \d+\.\d frames/s, skipped (\d+), latency)")))
      << result.output;
  const double delivered = std::stod(summary[1]);
  const double seconds = std::stod(summary[2]);
  const double skipped = std::stod(summary[3]);
  EXPECT_GE(seconds, 2.0);
  EXPECT_GT(delivered, 10) << "frames arrive";
  // PAL makes 25 frames a second: the account claims no frame the card did not make.
  EXPECT_LE(delivered + skipped, 25 * seconds + 3) << result.output;
}

TEST_F(LxsnapMachine, RefusalsSayWhyAndWhatToDo) {
  const ToolResult format = lxsnap({"--format", "rgb999"});
  EXPECT_EQ(format.exitStatus, 2);
  EXPECT_TRUE(contains(format.output, "'rgb999' is not one of rgb888|rgb565")) << format.output;
  EXPECT_TRUE(contains(format.output, "lxsnap --help")) << format.output;

  const ToolResult mixed = lxsnap({"--list", "--frames", "3"});
  EXPECT_EQ(mixed.exitStatus, 2) << mixed.output;

  const ToolResult window = lxsnap({"--window", "3x2", "--out", out_});
  EXPECT_EQ(window.exitStatus, 1);
  EXPECT_TRUE(contains(window.output, "setting the window 3x2: LX_PARAMETER_INVALID (-4)")) << window.output;

  const ToolResult input = lxsnap({"--input", "ycbcr1", "--out", out_});
  EXPECT_EQ(input.exitStatus, 1);
  EXPECT_TRUE(contains(input.output, "selecting input ycbcr1: LX_PARAMETER_INVALID")) << input.output;
  EXPECT_TRUE(contains(input.output, "'lxsnap --list' shows the inputs card 1 offers")) << input.output;

  const ToolResult card = lxsnap({"--card", "3", "--out", out_});
  EXPECT_EQ(card.exitStatus, 1);
  EXPECT_TRUE(contains(card.output, "opening card 3 of 2: LX_NO_CARD_FOUND (-8)")) << card.output;
  EXPECT_TRUE(contains(card.output, "lxsnap --list")) << card.output;

  const ToolResult room = lxsnap({"--window", "768x576", "--format", "rgb8888", "--frames", "60000", "--out", out_});
  EXPECT_EQ(room.exitStatus, 1);
  EXPECT_TRUE(contains(room.output, "snapping 60000 frames: LX_ACCESS_DEVICE_MEMORY_DENIED")) << room.output;
  EXPECT_TRUE(contains(room.output, "room for 9 frames of 1769472 bytes")) << room.output;
  EXPECT_FALSE(std::filesystem::exists(file("frame000.bmp")));

  // No signal on the input: the snap times out and says where to look.
  const ToolResult dark = lxsnap({"--input", "composite3", "--frames", "1", "--out", out_});
  EXPECT_EQ(dark.exitStatus, 1);
  EXPECT_TRUE(contains(dark.output, "LX_SNAP_SHOT_TIME_OUT")) << dark.output;
  EXPECT_TRUE(contains(dark.output, "is there a signal on the input?")) << dark.output;
}

TEST(LxsnapWithoutMachine, SaysHowToStartOne) {
  const std::string empty = lxm::testing::makePrivateDirectory();
  for (const char* mode : {"--list", "--frames"}) {
    std::vector<std::string> arguments = {LXSNAP_PROGRAM, mode};
    if (std::string(mode) == "--frames") {
      arguments.insert(arguments.end(), {"1", "--out", empty + "/out"});
    }
    const ToolResult result =
        lxm::testing::runProgram(arguments, 120, {"LX_MACHINE=" + empty, "LX_MACHINE_NO_AUTOBOOT=1"});
    EXPECT_EQ(result.exitStatus, 1) << mode;
    EXPECT_TRUE(contains(result.output, "No machine runs. Start one with 'lxmachine boot'")) << result.output;
  }
  lxm::testing::removeTree(empty);
}

TEST(LxsnapWithoutCard, SaysHowToPlugOneIn) {
  PrivateMachine machine(LXSNAP_LXMACHINE, "terncard = []\n");
  ASSERT_TRUE(machine.boot());
  for (const char* mode : {"--list", "--stream"}) {
    const ToolResult result =
        lxm::testing::runProgram({LXSNAP_PROGRAM, mode}, 120, {"LX_MACHINE=" + machine.directory()});
    EXPECT_EQ(result.exitStatus, 1) << mode;
    EXPECT_TRUE(contains(result.output, "no capture card found: the machine has none. Plug one in with "
                                        "'lxmachine plug terncard'"))
        << result.output;
  }
}

}  // namespace
