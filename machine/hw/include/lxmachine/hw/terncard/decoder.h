// The video decoder: turns the window, scale and adjustment registers into
// the lines of one field, in the selected pixel format.
//
// Geometry of a field comes from set A (first fields) or set B (second
// fields). The registers are read back into the window the driver meant:
//  - active width HACTIVE = output pixels per line; the horizontal scale
//    gives the ratio r (input samples per output pixel): the driver's fixed
//    values for 1:1, 1:2, 1:4 and 1:8 mean exactly those, any other value
//    r = (HSCALE / 4096 + 1) / k with k = 1.2005209 (PAL), 1.178125 (NTSC);
//  - the horizontal delay counts from the standard's base delay for that
//    ratio (154 PAL, 114 NTSC at 1:1; outW*186*768/(inW*922) PAL and
//    outW*0.1790451 NTSC otherwise, rounded down to even); what lies beyond
//    is the crop in input samples, scaled by 922/763 when r is not 1;
//  - VACTIVE = input frame lines, so VACTIVE / 2 lines per field; the
//    vertical scale gives s = 1 + ((8192 - VSCALE) mod 8192) / 512 and the
//    field has round(VACTIVE / 2 / s) output lines;
//  - the vertical delay counts frame lines from the first active line
//    (32 PAL, 26 NTSC); half of the rest is the crop in field lines.
// Output pixel i samples input x0 + i * inW / outW; output line j samples
// field line y0 + j * (VACTIVE/2) / lines, i.e. frame line 2 * that + parity.
// Samples outside the source picture are black.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "lxmachine/hw/terncard/pixel_format.h"
#include "lxmachine/hw/terncard/registers.h"
#include "lxmachine/hw/terncard/timing.h"
#include "lxmachine/hw/terncard/video_source.h"

namespace lxhw::tern {

using RegisterSnapshot = std::array<uint32_t, kRegisterCells>;

VideoStandard standardOf(const RegisterSnapshot& regs);

struct FieldGeometry {
    VideoStandard standard = VideoStandard::Pal;
    uint32_t outWidth = 0;
    uint32_t inWidth = 0;
    int32_t x0 = 0;  // first input sample
    uint32_t outLines = 0;
    uint32_t inLines = 0;
    int32_t y0 = 0;  // first field line
};

FieldGeometry geometryOf(const RegisterSnapshot& regs, bool secondField);
PictureSettings pictureOf(const RegisterSnapshot& regs);

class FieldRenderer {
public:
    FieldRenderer();

    // Latches the registers and the source for field `fieldNumber`
    // (parity = fieldNumber & 1: 0 first field, 1 second). A null source is black.
    void prepare(const RegisterSnapshot& regs, std::shared_ptr<VideoSource> source, uint64_t fieldNumber);

    const FieldGeometry& geometry() const { return geometry_; }
    PixelFormat format() const { return colour_.settings().format; }
    uint32_t lineBytes() const { return lineBytes_; }
    // Output line j of the field, lineBytes() long; lines past the field are black.
    const uint8_t* line(uint32_t j);

private:
    struct CachedLine {
        uint64_t key = 0;
        uint64_t generation = 0;
        std::vector<uint32_t> packed;
    };
    uint32_t* convertedLine(const SourceLine& source);
    void convertHead(const YuvSample* in, uint32_t count, uint32_t* out) const;
    void storeBlack();
    void dropStoredLines();

    FieldGeometry geometry_;
    ColourPipeline colour_;
    std::shared_ptr<VideoSource> source_;
    uint64_t fieldNumber_ = 0;
    uint64_t generation_ = 1;
    uint32_t sourceWidth_ = 0;
    uint32_t lineBytes_ = 0;
    std::vector<uint32_t> xIndex_;  // output pixel -> converted sample (sourceWidth_ = black)
    std::array<CachedLine, 8> cache_;
    std::vector<uint32_t> blackPacked_;
    std::vector<uint8_t> lineBuffer_;
    std::vector<uint8_t> blackLine_;
    // Lines without a head, stored by key and kept across fields while the
    // settings, the source and the window stay: a still picture is converted
    // and stored once, not every field. Emptied before it would hold more
    // than kStoredLinesBytes.
    static constexpr size_t kStoredLinesBytes = size_t{4} << 20;
    std::unordered_map<uint64_t, std::vector<uint8_t>> storedLines_;
    std::vector<std::vector<uint8_t>> spareLines_;  // buffers of dropped lines, for new ones
    size_t storedLinesBytes_ = 0;
    uint64_t storedLinesGeneration_ = 0;
    // What lineBuffer_ holds (lines with a head): the stored line of this key
    // (valid within one prepare) under a head. A line of the same key stores
    // only the pixels a head may reach again.
    bool stored_ = false;
    uint64_t storedKey_ = 0;
    uint32_t headReach_ = 0;  // output pixels that may show a head sample (even)
};

}  // namespace lxhw::tern
