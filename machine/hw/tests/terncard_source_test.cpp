#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "lxmachine/hw/terncard/video_source.h"

namespace lxhw::tern {
namespace {

namespace fs = std::filesystem;

void writePng(const fs::path& path, uint32_t width, uint32_t height, const std::vector<uint8_t>& rgb) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = PNG_FORMAT_RGB;
    ASSERT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr));
}

std::vector<uint8_t> solid(uint32_t pixels, uint8_t r, uint8_t g, uint8_t b) {
    std::vector<uint8_t> rgb;
    for (uint32_t i = 0; i < pixels; ++i) rgb.insert(rgb.end(), {r, g, b});
    return rgb;
}

class TempDir {
public:
    TempDir() : path_(fs::temp_directory_path() / ("terncard_src_" + std::to_string(getpid()))) {
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempDir() { fs::remove_all(path_); }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

TEST(TernCardSources, ImageDirectoryPlaysInNumberOrderOnePicturePerFrame) {
    TempDir dir;
    writePng(dir.path() / "frame10.png", 4, 4, solid(16, 0, 0, 255));  // blue, third
    writePng(dir.path() / "frame2.png", 4, 4, solid(16, 0, 255, 0));   // green, second
    writePng(dir.path() / "frame1.png", 4, 4, solid(16, 255, 0, 0));   // red, first
    std::ofstream(dir.path() / "notes.txt") << "not a picture";
    std::string error;
    auto source = makeVideoSource("image:" + dir.path().string(), &error);
    ASSERT_TRUE(source) << error;
    EXPECT_TRUE(source->hasSignal());
    auto vAt = [&](uint64_t field) { return source->line(VideoStandard::Pal, field, 0).samples[10].v; };
    auto uAt = [&](uint64_t field) { return source->line(VideoStandard::Pal, field, 0).samples[10].u; };
    EXPECT_EQ(vAt(0), 240);  // red: V at its top
    EXPECT_EQ(vAt(1), 240);  // both fields of a frame show one picture
    EXPECT_LT(vAt(2), 128);  // green
    EXPECT_EQ(uAt(4), 240);  // blue
    EXPECT_EQ(vAt(6), 240);  // and round again
    EXPECT_EQ(source->line(VideoStandard::Ntsc, 2, 479).samples[639].y,
              source->line(VideoStandard::Pal, 2, 575).samples[767].y);
}

TEST(TernCardSources, StillPictureIsScaledToTheStandard) {
    TempDir dir;
    // 2 x 2: white, black / black, white.
    writePng(dir.path() / "still.png", 2, 2, {255, 255, 255, 0, 0, 0, 0, 0, 0, 255, 255, 255});
    std::string error;
    auto source = makeVideoSource("image:" + (dir.path() / "still.png").string(), &error);
    ASSERT_TRUE(source) << error;
    const SourceLine top = source->line(VideoStandard::Pal, 0, 0);
    EXPECT_EQ(top.samples[0].y, 235);
    EXPECT_EQ(top.samples[383].y, 235);
    EXPECT_EQ(top.samples[384].y, 16);
    const SourceLine bottom = source->line(VideoStandard::Pal, 0, 575);
    EXPECT_EQ(bottom.samples[0].y, 16);
    EXPECT_EQ(bottom.samples[767].y, 235);
}

TEST(TernCardSources, BadNamesAreRefusedWithAReason) {
    TempDir dir;
    std::string error;
    EXPECT_FALSE(makeVideoSource("image:" + dir.path().string(), &error));  // empty directory
    EXPECT_NE(error.find("no PNG"), std::string::npos);
    std::ofstream(dir.path() / "broken.png") << "definitely not a PNG";
    error.clear();
    EXPECT_FALSE(makeVideoSource("image:" + (dir.path() / "broken.png").string(), &error));
    EXPECT_NE(error.find("broken.png"), std::string::npos);
    EXPECT_FALSE(makeVideoSource("image:", &error));
    EXPECT_FALSE(makeVideoSource("snow", &error));
    EXPECT_NE(error.find("snow"), std::string::npos);
    auto none = makeVideoSource("none", &error);
    ASSERT_TRUE(none);
    EXPECT_FALSE(none->hasSignal());
    EXPECT_EQ(none->line(VideoStandard::Pal, 5, 100).samples[700].y, 16);
}

}  // namespace
}  // namespace lxhw::tern
