// Reads the line stamp of the card's "stamp" source (see
// lxmachine/hw/terncard/line_stamp_code.h) back out of one captured line.
#pragma once

#include <cstdint>
#include <optional>

namespace lxtest {

struct LineStamp {
    uint32_t field;    // the card's field number mod 2^24
    bool secondField;  // the field is the second of its frame
    uint8_t sourceId;
    uint16_t frameLine;  // the line's number in the frame: field line * 2 + parity
};

// The stamp in the first 64 pixels at `pixels`, a line captured at a
// horizontal scale of 1:1 from sample 0 of the picture. `pixelFormat` is a
// video format code of LxSetVideoFormat: 0 YUV422, 1 RGB888, 2 RGB565,
// 3 RGB555, 4 RGB8888, 5 and 6 8-bit grey (full and limited range).
// Nothing when the line is shorter than 64 pixels, the format is unknown,
// the 64 pixels hold no two clear levels, or the sync or the check fails
// (which is what a scaled or cropped line gives).
std::optional<LineStamp> decodeLineStamp(const void* pixels, int widthPixels, int pixelFormat);

}  // namespace lxtest
