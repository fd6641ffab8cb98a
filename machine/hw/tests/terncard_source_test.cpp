#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

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

// Resident memory of this process, from /proc.
size_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    size_t size = 0, resident = 0;
    statm >> size >> resident;
    return resident * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

TEST(TernCardSources, ManyLinksToOneLargePictureHoldOnlyScaledPictures) {
    TempDir dir;
    // 4096 x 3072 RGB decodes to 36 MiB: ten of them held at full size would add 360 MiB.
    constexpr uint32_t kWidth = 4096, kHeight = 3072;
    {
        std::vector<uint8_t> rgb(size_t{kWidth} * kHeight * 3);
        for (size_t i = 0; i < rgb.size(); i += 3) rgb[i] = 200;  // red-ish, compresses to little
        writePng(dir.path() / "large.png", kWidth, kHeight, rgb);
    }
    fs::create_directories(dir.path() / "loop");
    for (int i = 0; i < 10; ++i)
        fs::create_symlink(dir.path() / "large.png", dir.path() / "loop" / ("frame" + std::to_string(i) + ".png"));

    [[maybe_unused]] const size_t before = residentBytes();
    std::string error;
    auto source = makeVideoSource("image:" + (dir.path() / "loop").string(), &error);
    ASSERT_TRUE(source) << error;
    // Every picture of the loop shown once, in both standards.
    for (uint64_t field = 0; field < 20; field += 2) {
        EXPECT_EQ(source->line(VideoStandard::Pal, field, 300).samples[400].v, 216) << field;
        EXPECT_EQ(source->line(VideoStandard::Ntsc, field + 1, 479).samples[639].v, 216) << field;
    }
    const size_t scaledPal = size_t{768} * 576 * sizeof(YuvSample);
    EXPECT_LE(source->pictureBytesHeld(), 2 * scaledPal);
    EXPECT_GT(source->pictureBytesHeld(), 0u);
#if !defined(__SANITIZE_ADDRESS__)
    // The sanitizer's allocator keeps freed blocks in quarantine, so resident
    // memory says nothing there; the source's own accounting above still does.
    EXPECT_LT(residentBytes() - std::min(before, residentBytes()), size_t{48} << 20);
#endif
}

TEST(TernCardSources, ABrokenFileRefusesTheSourceNamingIt) {
    TempDir dir;
    writePng(dir.path() / "frame1.png", 4, 4, solid(16, 255, 0, 0));
    std::ofstream(dir.path() / "frame2.png") << "not a PNG at all";
    writePng(dir.path() / "frame3.png", 4, 4, solid(16, 0, 255, 0));
    std::string error;
    EXPECT_FALSE(makeVideoSource("image:" + dir.path().string(), &error));
    EXPECT_NE(error.find("frame2.png"), std::string::npos) << error;

    // A file whose header reads but whose picture data is cut short fails too.
    fs::remove(dir.path() / "frame2.png");
    std::vector<uint8_t> noise(64 * 64 * 3);
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<uint8_t>(i * 2654435761u >> 13);
    writePng(dir.path() / "cut.png", 64, 64, noise);
    fs::resize_file(dir.path() / "cut.png", fs::file_size(dir.path() / "cut.png") / 2);
    error.clear();
    EXPECT_FALSE(makeVideoSource("image:" + (dir.path() / "cut.png").string(), &error));
    EXPECT_NE(error.find("cut.png"), std::string::npos) << error;
}

}  // namespace
}  // namespace lxhw::tern
