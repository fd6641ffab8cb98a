// What is plugged into one input of the card's multiplexer. A source draws
// its picture for the card's current standard at the standard's square-pixel
// size (768 x 576 PAL, 640 x 480 NTSC) in studio-range Y, U, V.
//
// Source names (configuration and `lxmachine source`):
//   "none"        nothing connected: no signal, black
//   "bars"        moving colour bars with the field number in a block code (bars_code.h)
//   "image:PATH"  a PNG file, or a directory of PNG files played in the order of
//                 the number in their names, one picture per frame, in a loop
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "lxmachine/hw/terncard/pixel_format.h"
#include "lxmachine/hw/terncard/timing.h"

namespace lxhw::tern {

struct SourceLine {
    const YuvSample* samples = nullptr;  // timingOf(standard).width samples
    uint64_t key = 0;                    // equal keys: equal samples (lets the card reuse conversions)
};

class VideoSource {
public:
    virtual ~VideoSource() = default;
    virtual std::string name() const = 0;
    virtual bool hasSignal() const = 0;
    // Frame line `frameLine` (0 .. frameLines-1) of the picture that field
    // `fieldNumber` shows. Called from the card's field thread only.
    virtual SourceLine line(VideoStandard standard, uint64_t fieldNumber, uint32_t frameLine) = 0;
};

// Null with a message in `error` when the name is not understood or the image cannot be read.
std::unique_ptr<VideoSource> makeVideoSource(const std::string& name, std::string* error);

// The bars' picture, exposed for tests and benchmarks.
std::unique_ptr<VideoSource> makeBarsSource();

}  // namespace lxhw::tern
