// Still pictures from PNG files (libpng): one file, or a directory of files
// played in the order of the number in their names, one picture per frame.
// A picture is scaled to the standard's size when it is first shown.
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <vector>

#include "lxmachine/hw/terncard/video_source.h"

namespace lxhw::tern {
namespace {

constexpr size_t kMaxPictures = 1000;
constexpr uint32_t kMaxSide = 8192;

struct Picture {
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> rgb;
};

bool readPng(const std::filesystem::path& path, Picture* picture, std::string* error) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        *error = path.string() + ": " + image.message;
        return false;
    }
    if (image.width == 0 || image.height == 0 || image.width > kMaxSide || image.height > kMaxSide) {
        png_image_free(&image);
        *error = path.string() + ": picture size not supported";
        return false;
    }
    image.format = PNG_FORMAT_RGB;
    picture->width = image.width;
    picture->height = image.height;
    picture->rgb.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, picture->rgb.data(), 0, nullptr)) {
        *error = path.string() + ": " + image.message;
        png_image_free(&image);
        return false;
    }
    return true;
}

// The number in a file name decides the order ("frame7.png" before "frame10.png").
long long numberIn(const std::string& name) {
    long long number = -1;
    for (size_t i = 0; i < name.size();) {
        if (std::isdigit(static_cast<unsigned char>(name[i]))) {
            size_t j = i;
            while (j < name.size() && std::isdigit(static_cast<unsigned char>(name[j]))) ++j;
            number = std::stoll(name.substr(i, std::min<size_t>(j - i, 15)));
            i = j;
        } else {
            ++i;
        }
    }
    return number;
}

bool isPng(const std::filesystem::path& p) {
    std::string ext = p.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext == ".png";
}

class ImageSource final : public VideoSource {
public:
    ImageSource(std::string path, std::vector<Picture> pictures) : path_(std::move(path)), pictures_(std::move(pictures)) {}

    std::string name() const override { return "image:" + path_; }
    bool hasSignal() const override { return true; }

    SourceLine line(VideoStandard standard, uint64_t fieldNumber, uint32_t frameLine) override {
        const size_t index = static_cast<size_t>((fieldNumber / 2) % pictures_.size());
        if (index != shownIndex_ || standard != shownStandard_ || shown_.empty()) show(index, standard);
        const StandardTiming& t = timingOf(standard);
        frameLine = std::min(frameLine, t.frameLines - 1);
        const uint64_t key = uint64_t{3} << 56 | uint64_t{index} << 20 | uint64_t{standard == VideoStandard::Ntsc} << 19 |
                             frameLine;
        return SourceLine{shown_.data() + size_t{frameLine} * t.width, key};
    }

private:
    // Scales the picture to the standard's size (nearest sample) and converts it to Y, U, V.
    void show(size_t index, VideoStandard standard) {
        const Picture& p = pictures_[index];
        const StandardTiming& t = timingOf(standard);
        shown_.resize(size_t{t.width} * t.frameLines);
        for (uint32_t y = 0; y < t.frameLines; ++y) {
            const uint32_t sy = static_cast<uint32_t>(uint64_t{y} * p.height / t.frameLines);
            for (uint32_t x = 0; x < t.width; ++x) {
                const uint32_t sx = static_cast<uint32_t>(uint64_t{x} * p.width / t.width);
                const uint8_t* rgb = &p.rgb[(size_t{sy} * p.width + sx) * 3];
                const int r = rgb[0], g = rgb[1], b = rgb[2];
                YuvSample& s = shown_[size_t{y} * t.width + x];
                s.y = static_cast<uint8_t>(16 + (65.481 * r + 128.553 * g + 24.966 * b) / 255.0 + 0.5);
                s.u = static_cast<uint8_t>(std::clamp(128 + (-37.797 * r - 74.203 * g + 112.0 * b) / 255.0 + 0.5, 0.0, 255.0));
                s.v = static_cast<uint8_t>(std::clamp(128 + (112.0 * r - 93.786 * g - 18.214 * b) / 255.0 + 0.5, 0.0, 255.0));
                s.unused = 0;
            }
        }
        shownIndex_ = index;
        shownStandard_ = standard;
    }

    const std::string path_;
    const std::vector<Picture> pictures_;
    std::vector<YuvSample> shown_;
    size_t shownIndex_ = 0;
    VideoStandard shownStandard_ = VideoStandard::Pal;
};

}  // namespace

std::unique_ptr<VideoSource> makeImageSource(const std::string& path, std::string* error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    std::vector<fs::path> files;
    if (fs::is_directory(path, ec)) {
        for (const auto& entry : fs::directory_iterator(path, ec)) {
            if (entry.is_regular_file(ec) && isPng(entry.path())) files.push_back(entry.path());
        }
        if (files.empty()) {
            *error = path + ": no PNG pictures in the directory";
            return nullptr;
        }
        std::sort(files.begin(), files.end(), [](const fs::path& a, const fs::path& b) {
            const long long na = numberIn(a.filename().string()), nb = numberIn(b.filename().string());
            return na != nb ? na < nb : a.filename() < b.filename();
        });
        if (files.size() > kMaxPictures) {
            *error = path + ": more than 1000 pictures";
            return nullptr;
        }
    } else if (fs::is_regular_file(path, ec)) {
        files.push_back(path);
    } else {
        *error = path + ": no such file or directory";
        return nullptr;
    }
    std::vector<Picture> pictures(files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        if (!readPng(files[i], &pictures[i], error)) return nullptr;
    }
    return std::make_unique<ImageSource>(path, std::move(pictures));
}

}  // namespace lxhw::tern
