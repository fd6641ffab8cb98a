// lxvideosrc in gst-launch-1.0 against a private machine at the standard's
// own speed: gst-inspect-1.0 finds it, 50 buffers become 50 PNG files that
// Pillow opens and whose every line carries its own frame line, frames in
// order; buffer times and offsets follow the card's field clock and frame
// count; a card that is not there stops the pipeline with the reason.
#include <gtest/gtest.h>
#include <png.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "line_stamp.h"
#include "private_machine.h"

namespace {

using lxm::testing::PrivateMachine;
using lxm::testing::ToolResult;

// Card 1 has stamped bars (every line carries its field and frame line) on
// composite1 and composite2. Clock factor 1: 50 fields a second.
constexpr char kOneCard[] =
    "[clock]\nfactor = 1.0\n\n"
    "[[terncard]]\nsources = [\"none\", \"stamp:3\", \"none\", \"stamp:3\"]\n";

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

bool haveGStreamerTools() {
  const std::string launch = LXGST_LAUNCH;
  const std::string inspect = LXGST_INSPECT;
  return !launch.empty() && !contains(launch, "NOTFOUND") && !inspect.empty() && !contains(inspect, "NOTFOUND");
}

class LxvideosrcMachine : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!haveGStreamerTools()) {
      return;
    }
    machine_ = new PrivateMachine(LXGST_LXMACHINE, kOneCard);
    booted_ = machine_->boot();
  }
  static void TearDownTestSuite() {
    delete machine_;
    machine_ = nullptr;
  }
  void SetUp() override {
    if (!haveGStreamerTools()) {
      GTEST_SKIP() << "gst-launch-1.0 or gst-inspect-1.0 is not installed (Debian: gstreamer1.0-tools)";
    }
    ASSERT_TRUE(booted_) << machine_->lxmachine({"status"}).output;
    out_ = machine_->directory() + "/out-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::filesystem::create_directories(out_);
  }

  // The built plugin only, a registry of this machine's own.
  static std::vector<std::string> environment() {
    std::vector<std::string> variables = {"LX_MACHINE=" + machine_->directory(),
                                          std::string("GST_PLUGIN_PATH=") + LXGST_PLUGIN_DIR,
                                          "GST_REGISTRY=" + machine_->directory() + "/gst-registry.bin"};
    if (std::strlen(LXGST_PRELOAD) > 0) {
      variables.push_back(std::string("LD_PRELOAD=") + LXGST_PRELOAD);
    }
    return variables;
  }
  static ToolResult launch(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), LXGST_LAUNCH);
    return lxm::testing::runProgram(arguments, 120, environment());
  }

  static PrivateMachine* machine_;
  static bool booted_;
  std::string out_;
};

PrivateMachine* LxvideosrcMachine::machine_ = nullptr;
bool LxvideosrcMachine::booted_ = false;

struct Picture {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> pixels;  // 3 bytes a pixel, top line first
};

std::optional<Picture> readRgbPng(const std::string& path) {
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_file(&png, path.c_str()) == 0) {
    return std::nullopt;
  }
  png.format = PNG_FORMAT_RGB;
  Picture picture{png.width, png.height, {}};
  picture.pixels.resize(PNG_IMAGE_SIZE(png));
  if (png_image_finish_read(&png, nullptr, picture.pixels.data(), 0, nullptr) == 0) {
    return std::nullopt;
  }
  return picture;
}

TEST_F(LxvideosrcMachine, InspectFindsTheElementAndItsProperties) {
  const ToolResult result = lxm::testing::runProgram({LXGST_INSPECT, "lxvideosrc"}, 120, environment());
  ASSERT_EQ(result.exitStatus, 0) << result.output;
  for (const char* part : {"Lx video source", "Source/Video", "card", "input", "standard", "format", "width",
                           "height", "BGR", "GRAY8", "30000/1001"}) {
    EXPECT_TRUE(contains(result.output, part)) << part << " in\n" << result.output;
  }
}

// Every line of every file reads as its own frame line, both fields of a
// file come from one frame, and each file's frame is after the previous.
TEST_F(LxvideosrcMachine, FiftyBuffersBecomeWholePngFramesInOrder) {
  const ToolResult result =
      launch({"lxvideosrc", "num-buffers=50", "input=composite1", "width=768", "height=576", "!", "videoconvert",
              "!", "pngenc", "!", "multifilesink", "location=" + out_ + "/frame%03d.png"});
  ASSERT_EQ(result.exitStatus, 0) << result.output;
  std::vector<std::string> paths;
  for (int n = 0; n < 50; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "/frame%03d.png", n);
    paths.push_back(out_ + name);
  }
  EXPECT_FALSE(std::filesystem::exists(out_ + "/frame050.png"));

  std::vector<std::string> pillow = {LXGST_PYTHON, LXGST_IMAGE_INFO};
  pillow.insert(pillow.end(), paths.begin(), paths.end());
  const ToolResult opened = lxm::testing::runProgram(pillow);
  ASSERT_EQ(opened.exitStatus, 0) << opened.output;
  std::string expected;
  for (int n = 0; n < 50; ++n) {
    char line[48];
    std::snprintf(line, sizeof line, "frame%03d.png 768x576 RGB\n", n);
    expected += line;
  }
  EXPECT_EQ(opened.output, expected);

  std::optional<uint32_t> previousFirstField;
  for (size_t n = 0; n < paths.size(); ++n) {
    const auto picture = readRgbPng(paths[n]);
    ASSERT_TRUE(picture) << paths[n];
    ASSERT_EQ(picture->height, 576u);
    std::optional<uint32_t> firstField;
    for (uint32_t k = 0; k < picture->height; ++k) {
      // Black and white stamps read alike in any channel order.
      const auto stamp =
          lxtest::decodeLineStamp(picture->pixels.data() + size_t{k} * picture->width * 3, picture->width, 1);
      ASSERT_TRUE(stamp) << "frame " << n << ", line " << k;
      EXPECT_EQ(stamp->frameLine, k) << "frame " << n;
      EXPECT_EQ(stamp->sourceId, 3u);
      const uint32_t first = stamp->field - (k & 1);
      if (!firstField) firstField = first;
      ASSERT_EQ(first, *firstField) << "frame " << n << ", line " << k << " is from another frame";
    }
    if (previousFirstField) {
      EXPECT_GT(*firstField, *previousFirstField) << "frame " << n << " follows frame " << n - 1;
    }
    previousFirstField = firstField;
  }
}

// fakesink prints each buffer's pts and offset: the offsets are the card's
// frame count, and the times are 40 ms a frame of that count apart, within
// a frame: the simulated card's field ends follow the host's clock, which a
// loaded host delays by some milliseconds.
TEST_F(LxvideosrcMachine, BufferTimesAndOffsetsFollowTheCard) {
  const ToolResult result = launch({"-v", "lxvideosrc", "num-buffers=20", "format=grey", "width=768", "height=576",
                                    "!", "fakesink", "silent=false"});
  ASSERT_EQ(result.exitStatus, 0) << result.output;
  EXPECT_TRUE(contains(result.output,
                       "video/x-raw, format=(string)GRAY8, width=(int)768, height=(int)576, framerate=(fraction)25/1"))
      << result.output;
  const std::regex chain(R"(\((\d+) bytes, dts: [^,]+, pts: (\d+):(\d+):(\d+)\.(\d{9}), duration: [^,]+, offset: (\d+), offset_end: (\d+))");
  std::vector<uint64_t> pts;
  std::vector<uint64_t> offsets;
  for (auto it = std::sregex_iterator(result.output.begin(), result.output.end(), chain); it != std::sregex_iterator();
       ++it) {
    const std::smatch& m = *it;
    EXPECT_EQ(m[1], "442368");  // 768 x 576 grey
    pts.push_back(((std::stoull(m[2]) * 60 + std::stoull(m[3])) * 60 + std::stoull(m[4])) * 1'000'000'000ull +
                  std::stoull(m[5]));
    offsets.push_back(std::stoull(m[6]));
    EXPECT_EQ(std::stoull(m[7]), offsets.back() + 1);
  }
  ASSERT_EQ(pts.size(), 20u) << result.output;
  for (size_t n = 1; n < pts.size(); ++n) {
    ASSERT_GT(offsets[n], offsets[n - 1]) << "buffer " << n;
    ASSERT_GT(pts[n], pts[n - 1]) << "buffer " << n;
    const int64_t expected = static_cast<int64_t>(offsets[n] - offsets[0]) * 40'000'000;
    const int64_t actual = static_cast<int64_t>(pts[n] - pts[0]);
    EXPECT_NEAR(actual, expected, 40'000'000) << "buffer " << n;
  }
}

TEST_F(LxvideosrcMachine, AMissingCardStopsThePipelineWithTheReason) {
  const ToolResult result = launch({"lxvideosrc", "card=3", "!", "fakesink"});
  EXPECT_NE(result.exitStatus, 0) << result.output;
  EXPECT_TRUE(contains(result.output, "opening card 3: LX_NO_CARD_FOUND")) << result.output;
}

}  // namespace
