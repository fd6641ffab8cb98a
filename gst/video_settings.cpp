#include "video_settings.h"

#include <array>

namespace lxgst {

namespace {

struct NamedValue {
  const char* name;
  int32_t value;
};

constexpr std::array kInputKinds{
    NamedValue{"composite", LX_VIDEO_SOURCE_COMPOSITE},
    NamedValue{"svideo", LX_VIDEO_SOURCE_SVIDEO},
    NamedValue{"ycbcr", LX_VIDEO_SOURCE_YCBCR},
};
constexpr int32_t kMostInputsPerKind = 8;

constexpr std::array kStandards{
    NamedValue{"pal", LX_VIDEO_STANDARD_PAL},
    NamedValue{"ntsc", LX_VIDEO_STANDARD_NTSC},
};

constexpr std::array kFormats{
    NamedValue{"yuv422", LX_VIDEO_FORMAT_YUV422},   NamedValue{"rgb888", LX_VIDEO_FORMAT_RGB888},
    NamedValue{"rgb565", LX_VIDEO_FORMAT_RGB565},   NamedValue{"rgb555", LX_VIDEO_FORMAT_RGB555},
    NamedValue{"rgb8888", LX_VIDEO_FORMAT_RGB8888}, NamedValue{"grey", LX_VIDEO_FORMAT_GREY8_FULL},
    NamedValue{"grey-limited", LX_VIDEO_FORMAT_GREY8_LIMITED},
};

template <typename Table>
std::optional<int32_t> valueOf(const Table& table, const std::string& name) {
  for (const NamedValue& entry : table) {
    if (name == entry.name) {
      return entry.value;
    }
  }
  return std::nullopt;
}

template <typename Table>
std::string nameOf(const Table& table, int32_t value) {
  for (const NamedValue& entry : table) {
    if (value == entry.value) {
      return entry.name;
    }
  }
  return std::to_string(value);
}

}  // namespace

std::optional<LxVideoSource> parseInput(const std::string& name) {
  for (const NamedValue& kind : kInputKinds) {
    const std::string prefix = kind.name;
    if (name.size() != prefix.size() + 1 || name.compare(0, prefix.size(), prefix) != 0) {
      continue;
    }
    const char digit = name.back();
    if (digit < '1' || digit > '0' + kMostInputsPerKind) {
      return std::nullopt;
    }
    return LxVideoSource{kind.value, digit - '1'};
  }
  return std::nullopt;
}

std::string inputName(LxVideoSource source) {
  return nameOf(kInputKinds, source.kind) + std::to_string(source.number + 1);
}

std::optional<int32_t> parseStandard(const std::string& name) { return valueOf(kStandards, name); }
std::string standardName(int32_t standard) { return nameOf(kStandards, standard); }
std::optional<int32_t> parseFormat(const std::string& name) { return valueOf(kFormats, name); }
std::string formatName(int32_t format) { return nameOf(kFormats, format); }

const char* rawFormatOf(int32_t format) {
  switch (format) {
    case LX_VIDEO_FORMAT_YUV422: return "YUY2";
    case LX_VIDEO_FORMAT_RGB888: return "BGR";
    case LX_VIDEO_FORMAT_RGB565: return "RGB16";
    case LX_VIDEO_FORMAT_RGB555: return "RGB15";
    case LX_VIDEO_FORMAT_RGB8888: return "BGRx";
    // Limited-range grey goes out as it is: GRAY8 has no range of its own.
    case LX_VIDEO_FORMAT_GREY8_FULL:
    case LX_VIDEO_FORMAT_GREY8_LIMITED: return "GRAY8";
    default: return nullptr;
  }
}

FrameRate frameRateOf(int32_t standard) {
  return standard == LX_VIDEO_STANDARD_NTSC ? FrameRate{30000, 1001} : FrameRate{25, 1};
}

uint64_t framePeriodNs(int32_t standard) {
  const FrameRate rate = frameRateOf(standard);
  return (uint64_t{1'000'000'000} * static_cast<uint64_t>(rate.denominator) + static_cast<uint64_t>(rate.numerator) / 2) /
         static_cast<uint64_t>(rate.numerator);
}

uint64_t frameBytesOf(const VideoSettings& settings) {
  // Frame mode weaves two fields of height / 2 lines each.
  const uint64_t lines = static_cast<uint64_t>(settings.height / 2) * 2;
  return lines * static_cast<uint64_t>(settings.width) * static_cast<uint64_t>(LxBytesPerPixel(settings.format));
}

}  // namespace lxgst
