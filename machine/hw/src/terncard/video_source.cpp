#include "lxmachine/hw/terncard/video_source.h"

#include <vector>

#include "lxmachine/stamp_source_name.h"

namespace lxhw::tern {

std::unique_ptr<VideoSource> makeImageSource(const std::string& path, std::string* error);

namespace {

class NoSignal final : public VideoSource {
public:
    NoSignal() : black_(kPalTiming.width, YuvSample{16, 128, 128, 0}) {}
    std::string name() const override { return "none"; }
    bool hasSignal() const override { return false; }
    SourceLine line(VideoStandard, uint64_t, uint32_t) override { return SourceLine{black_.data(), 0}; }

private:
    std::vector<YuvSample> black_;  // wide enough for either standard
};

}  // namespace

std::unique_ptr<VideoSource> makeVideoSource(const std::string& name, std::string* error) {
    if (name == "none") return std::make_unique<NoSignal>();
    if (name == "bars") return makeBarsSource();
    if (const auto id = lxm::stampSourceId(name)) return makeStampSource(*id);
    if (name.rfind("image:", 0) == 0) {
        if (name.size() == 6) {
            *error = "image source needs a path: image:PATH";
            return nullptr;
        }
        return makeImageSource(name.substr(6), error);
    }
    *error = "unknown video source '" + name + "' (expected none, bars, stamp, stamp:ID with ID 0-255, or image:PATH)";
    return nullptr;
}

}  // namespace lxhw::tern
