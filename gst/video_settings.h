// What the element asks of the card, from its properties, and what follows
// from it: the names its properties take, the raw format GStreamer calls the
// card's bytes, and the frame rate of the standard.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "lx/video_card.h"
#include "lx/video_types.h"

namespace lxgst {

struct VideoSettings {
  int32_t card = 1;
  LxVideoSource input{LX_VIDEO_SOURCE_COMPOSITE, 0};
  int32_t standard = LX_VIDEO_STANDARD_PAL;
  int32_t format = LX_VIDEO_FORMAT_RGB888;
  int32_t width = 640;
  int32_t height = 480;
};

// "composite1".."composite8", "svideo1".., "ycbcr1"..: kind and 0-based number.
std::optional<LxVideoSource> parseInput(const std::string& name);
std::string inputName(LxVideoSource source);
// "pal", "ntsc".
std::optional<int32_t> parseStandard(const std::string& name);
std::string standardName(int32_t standard);
// "rgb888", "rgb565", "rgb555", "rgb8888", "yuv422", "grey", "grey-limited".
std::optional<int32_t> parseFormat(const std::string& name);
std::string formatName(int32_t format);

// The GStreamer raw video format of the bytes the card stores in a format:
// the card writes its 24 and 32-bit pixels blue first, its 16-bit pixels as
// little-endian words and YUV as Y0 U Y1 V.
const char* rawFormatOf(int32_t format);

struct FrameRate {
  int32_t numerator;
  int32_t denominator;
};
FrameRate frameRateOf(int32_t standard);
// Nanoseconds of one frame of the standard, rounded.
uint64_t framePeriodNs(int32_t standard);

// Bytes of one woven frame the card stores for these settings (lines packed).
uint64_t frameBytesOf(const VideoSettings& settings);

}  // namespace lxgst
