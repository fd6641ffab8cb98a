// What is plugged into one input of the card's multiplexer. A source draws
// its picture for the card's current standard at the standard's square-pixel
// size (768 x 576 PAL, 640 x 480 NTSC) in studio-range Y, U, V.
//
// Source names (configuration and `lxmachine source`):
//   "none"        nothing connected: no signal, black
//   "bars"        moving colour bars with the field number in a block code (bars_code.h)
//   "stamp[:ID]"  the bars with a code in the first 64 samples of every line telling
//                 its field, parity, frame line and the source ID 0-255 (0 if not
//                 given; line_stamp_code.h, stamp_source.cpp)
//   "image:PATH"  a PNG file, or a directory of PNG files played in the order of
//                 the number in their names, one picture per frame, in a loop;
//                 decoded one at a time as the fields show them, at most two
//                 kept, scaled to the standard's size
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "lxmachine/hw/terncard/pixel_format.h"
#include "lxmachine/hw/terncard/timing.h"

namespace lxhw::tern {

struct SourceLine {
    const YuvSample* samples = nullptr;  // timingOf(standard).width samples
    uint64_t key = 0;                    // equal keys: equal samples (lets the card reuse conversions)
    // Samples 0 .. headSamples-1 come from here instead; they may change from
    // line to line and are not covered by the key.
    const YuvSample* head = nullptr;
    uint32_t headSamples = 0;  // at most kMaxHeadSamples
};

constexpr uint32_t kMaxHeadSamples = 64;

class VideoSource {
public:
    virtual ~VideoSource() = default;
    virtual std::string name() const = 0;
    virtual bool hasSignal() const = 0;
    // Frame line `frameLine` (0 .. frameLines-1) of the picture that field
    // `fieldNumber` shows. Called from the card's field thread only.
    virtual SourceLine line(VideoStandard standard, uint64_t fieldNumber, uint32_t frameLine) = 0;
    // Bytes of decoded pictures the source keeps between fields (image sources;
    // the drawn sources keep only their line buffers).
    virtual size_t pictureBytesHeld() const { return 0; }
};

// Null with a message in `error` when the name is not understood or the image cannot be read.
std::unique_ptr<VideoSource> makeVideoSource(const std::string& name, std::string* error);

// The bars' picture, exposed for tests and benchmarks.
std::unique_ptr<VideoSource> makeBarsSource();
std::unique_ptr<VideoSource> makeStampSource(uint8_t sourceId);

}  // namespace lxhw::tern
