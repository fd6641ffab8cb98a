// The bars (bars_source.cpp, with their field code) and a line stamp: the
// first 64 samples of every line carry a code that says which field and
// which line of the frame this line is, so a test can check every captured
// line for the frame and the slot it belongs in.
//
// The code (line_stamp_code.h) is 64 bits, one a sample from sample 0, most
// significant bit first; a 1 is white (Y 235), a 0 black (Y 16), U and V
// are 128. Bits 63..59 are the sync 10110; 58..35 the field number mod 2^24
// (the card's field counter, the number the bars' field code shows); 34 the
// parity, 1 in the second field of a frame; 33..26 the source ID given in
// the name ("stamp:ID", 0 to 255; plain "stamp" is 0); 25..16 the frame line,
// field line * 2 + parity, counted from the top of the picture; 15..0 a
// CRC-16 (polynomial 0x1021, initial value 0xFFFF, no reflection, no final
// XOR) of bits 63..16 taken as six bytes, high byte first.
//
// Reading it back: at a horizontal scale of 1:1 with the window starting at
// sample 0, pixel k of a captured line shows bit 63 - k in every pixel
// format. Luma above the midpoint between the darkest and the brightest of
// the 64 pixels is a 1; the sync always holds both levels, so brightness and
// contrast settings do not move the threshold off the code. The picture may
// be scaled vertically: each output line carries the stamp of the frame line
// it was taken from. A horizontally scaled or cropped line does not show the
// code bit by bit; the decoder refuses such lines (sync or check fails) and
// the bars' field code, which survives scaling, is the way to tell its field.
#include <array>

#include "lxmachine/hw/terncard/line_stamp_code.h"
#include "lxmachine/hw/terncard/video_source.h"

namespace lxhw::tern {
namespace {

constexpr YuvSample kOne{stamp::kWhiteLuma, 128, 128, 0};
constexpr YuvSample kZero{stamp::kBlackLuma, 128, 128, 0};
static_assert(stamp::kSamples <= kMaxHeadSamples);

class StampSource final : public VideoSource {
public:
    explicit StampSource(uint8_t id) : id_(id), bars_(makeBarsSource()) {}

    std::string name() const override { return "stamp:" + std::to_string(id_); }
    bool hasSignal() const override { return true; }

    SourceLine line(VideoStandard standard, uint64_t fieldNumber, uint32_t frameLine) override {
        SourceLine line = bars_->line(standard, fieldNumber, frameLine);
        stamp::Fields f;
        f.fieldNumber = static_cast<uint32_t>(fieldNumber);
        f.secondField = fieldNumber & 1;
        f.sourceId = id_;
        f.frameLine = static_cast<uint16_t>(frameLine);
        const uint64_t word = stamp::codeWord(f);
        static constexpr YuvSample kLevels[2] = {kZero, kOne};
        for (uint32_t k = 0; k < stamp::kSamples; ++k) head_[k] = kLevels[(word >> (63 - k)) & 1];
        line.head = head_.data();
        line.headSamples = stamp::kSamples;
        return line;
    }

private:
    const uint8_t id_;
    const std::unique_ptr<VideoSource> bars_;
    std::array<YuvSample, stamp::kSamples> head_{};
};

}  // namespace

std::unique_ptr<VideoSource> makeStampSource(uint8_t sourceId) { return std::make_unique<StampSource>(sourceId); }

}  // namespace lxhw::tern
