#include "video_names.h"

#include <charconv>

#include "lx/card_type.h"
#include "lx/video_types.h"

namespace lxsnap {

namespace {

constexpr const char* kKindNames[kInputKinds] = {"composite", "svideo", "ycbcr"};
static_assert(LX_VIDEO_SOURCE_COMPOSITE == 0 && LX_VIDEO_SOURCE_SVIDEO == 1 && LX_VIDEO_SOURCE_YCBCR == 2);

}  // namespace

std::optional<LxVideoSource> parseInput(const std::string& name) {
  for (int32_t kind = 0; kind < kInputKinds; ++kind) {
    const std::string prefix = kKindNames[kind];
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) {
      continue;
    }
    const char* first = name.data() + prefix.size();
    const char* last = name.data() + name.size();
    int32_t number = 0;
    const auto [end, error] = std::from_chars(first, last, number);
    // Numbers are written as people count inputs: from 1, no sign, no leading zero.
    if (error != std::errc() || end != last || *first == '0' || number < 1 || number > kMostInputsPerKind) {
      return std::nullopt;
    }
    return LxVideoSource{kind, number - 1};
  }
  return std::nullopt;
}

std::string inputName(LxVideoSource source) {
  if (source.kind < 0 || source.kind >= kInputKinds) {
    return "input " + std::to_string(source.kind) + "." + std::to_string(source.number);
  }
  return kKindNames[source.kind] + std::to_string(source.number + 1);
}

const std::vector<NamedValue>& formatNames() {
  static const std::vector<NamedValue> names = {
      {"rgb888", LX_VIDEO_FORMAT_RGB888},   {"rgb565", LX_VIDEO_FORMAT_RGB565},
      {"rgb555", LX_VIDEO_FORMAT_RGB555},   {"rgb8888", LX_VIDEO_FORMAT_RGB8888},
      {"yuv422", LX_VIDEO_FORMAT_YUV422},   {"grey", LX_VIDEO_FORMAT_GREY8_FULL},
      {"grey-limited", LX_VIDEO_FORMAT_GREY8_LIMITED},
  };
  return names;
}

const std::vector<NamedValue>& standardNames() {
  static const std::vector<NamedValue> names = {{"pal", LX_VIDEO_STANDARD_PAL}, {"ntsc", LX_VIDEO_STANDARD_NTSC}};
  return names;
}

const std::vector<NamedValue>& scanNames() {
  static const std::vector<NamedValue> names = {
      {"frame", LX_SCAN_MODE_FRAME}, {"field", LX_SCAN_MODE_FIELD}, {"field1", LX_SCAN_MODE_FIELD1}};
  return names;
}

std::string nameOf(const std::vector<NamedValue>& names, int32_t value) {
  for (const NamedValue& named : names) {
    if (named.value == value) {
      return named.name;
    }
  }
  return std::to_string(value);
}

std::string cardTypeName(int32_t cardTypeIndex) {
  static constexpr const char* kNames[LX_CARD_TYPE_COUNT] = {"Heron", "Egret", "Stork", "Crane", "TernCard"};
  return LxIsCardTypeIndex(cardTypeIndex) ? kNames[cardTypeIndex] : "type " + std::to_string(cardTypeIndex);
}

}  // namespace lxsnap
