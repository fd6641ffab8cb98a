// Still pictures from PNG files (libpng): one file, or a directory of files
// played in the order of the number in their names, one picture per frame.
// Pictures are decoded when the field that shows them is made and kept only
// scaled to the standard's size, a few at a time: a directory of many large
// files costs one file's decode at a time, not all of them at once. Every
// file's header is checked up front so a broken file fails when the source
// is made, not in the middle of a capture.
#include <png.h>

#include <algorithm>
#include <atomic>
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

// Full-size decodes are transient but still bounded: 8192 x 8192 RGB.
constexpr size_t kMaxDecodeBytes = size_t{kMaxSide} * kMaxSide * 3;
// Scaled pictures kept between fields (current and the one before, so a
// two-picture loop or a still does not decode again every frame).
constexpr size_t kCachedPictures = 2;

bool checkPng(const std::filesystem::path& path, std::string* error) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        *error = path.string() + ": " + image.message;
        return false;
    }
    const bool sizeOk = image.width != 0 && image.height != 0 && image.width <= kMaxSide && image.height <= kMaxSide;
    png_image_free(&image);
    if (!sizeOk) *error = path.string() + ": picture size not supported";
    return sizeOk;
}

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
    if (PNG_IMAGE_SIZE(image) > kMaxDecodeBytes) {
        png_image_free(&image);
        *error = path.string() + ": picture too large to decode";
        return false;
    }
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

// One picture scaled to a standard's size, in Y, U, V.
struct ScaledPicture {
    size_t index = 0;
    VideoStandard standard = VideoStandard::Pal;
    std::vector<YuvSample> samples;
};

// Scales the picture to the standard's size (nearest sample) and converts it to Y, U, V.
void scale(const Picture& p, const StandardTiming& t, std::vector<YuvSample>* out) {
    out->assign(size_t{t.width} * t.frameLines, YuvSample{16, 128, 128, 0});
    if (p.rgb.empty()) return;  // the file could not be decoded: black
    for (uint32_t y = 0; y < t.frameLines; ++y) {
        const uint32_t sy = static_cast<uint32_t>(uint64_t{y} * p.height / t.frameLines);
        for (uint32_t x = 0; x < t.width; ++x) {
            const uint32_t sx = static_cast<uint32_t>(uint64_t{x} * p.width / t.width);
            const uint8_t* rgb = &p.rgb[(size_t{sy} * p.width + sx) * 3];
            const int r = rgb[0], g = rgb[1], b = rgb[2];
            YuvSample& s = (*out)[size_t{y} * t.width + x];
            s.y = static_cast<uint8_t>(16 + (65.481 * r + 128.553 * g + 24.966 * b) / 255.0 + 0.5);
            s.u = static_cast<uint8_t>(std::clamp(128 + (-37.797 * r - 74.203 * g + 112.0 * b) / 255.0 + 0.5, 0.0, 255.0));
            s.v = static_cast<uint8_t>(std::clamp(128 + (112.0 * r - 93.786 * g - 18.214 * b) / 255.0 + 0.5, 0.0, 255.0));
            s.unused = 0;
        }
    }
}

class ImageSource final : public VideoSource {
public:
    ImageSource(std::string path, std::vector<std::filesystem::path> files)
        : path_(std::move(path)), files_(std::move(files)) {}

    std::string name() const override { return "image:" + path_; }
    bool hasSignal() const override { return true; }
    size_t pictureBytesHeld() const override { return held_.load(); }

    SourceLine line(VideoStandard standard, uint64_t fieldNumber, uint32_t frameLine) override {
        const size_t index = static_cast<size_t>((fieldNumber / 2) % files_.size());
        const ScaledPicture& shown = picture(index, standard);
        const StandardTiming& t = timingOf(standard);
        frameLine = std::min(frameLine, t.frameLines - 1);
        const uint64_t key = uint64_t{3} << 56 | uint64_t{index} << 20 | uint64_t{standard == VideoStandard::Ntsc} << 19 |
                             frameLine;
        return SourceLine{shown.samples.data() + size_t{frameLine} * t.width, key};
    }

    // Decodes the first picture so that a single file is checked through to its last byte.
    bool prime(std::string* error) {
        Picture first;
        if (!readPng(files_[0], &first, error)) return false;
        ScaledPicture scaled;
        scale(first, timingOf(VideoStandard::Pal), &scaled.samples);
        keep(std::move(scaled));
        return true;
    }

private:
    const ScaledPicture& picture(size_t index, VideoStandard standard) {
        for (auto it = cache_.begin(); it != cache_.end(); ++it) {
            if (it->index == index && it->standard == standard) {
                if (it != cache_.begin()) std::rotate(cache_.begin(), it, it + 1);  // most recent first
                return cache_.front();
            }
        }
        // Decoded here, on the field that shows it; the full-size decode is freed at once.
        Picture decoded;
        std::string error;
        if (!readPng(files_[index], &decoded, &error)) decoded = Picture{};  // changed since the check: black
        ScaledPicture scaled;
        scaled.index = index;
        scaled.standard = standard;
        scale(decoded, timingOf(standard), &scaled.samples);
        keep(std::move(scaled));
        return cache_.front();
    }

    void keep(ScaledPicture scaled) {
        if (cache_.size() == kCachedPictures) cache_.pop_back();
        cache_.insert(cache_.begin(), std::move(scaled));
        size_t bytes = 0;
        for (const ScaledPicture& p : cache_) bytes += p.samples.capacity() * sizeof(YuvSample);
        held_.store(bytes);
    }

    const std::string path_;
    const std::vector<std::filesystem::path> files_;
    std::vector<ScaledPicture> cache_;  // most recently shown first, at most kCachedPictures
    std::atomic<size_t> held_{0};       // read by other threads for accounting
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
    for (const fs::path& file : files) {
        if (!checkPng(file, error)) return nullptr;
    }
    auto source = std::make_unique<ImageSource>(path, std::move(files));
    if (!source->prime(error)) return nullptr;
    return source;
}

}  // namespace lxhw::tern
