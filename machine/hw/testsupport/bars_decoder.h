// Reads the field number that the card's "bars" source draws into every
// field (see lxmachine/hw/terncard/bars_code.h) back out of captured pixels.
#pragma once

#include <cstdint>
#include <optional>

#include "lxmachine/hw/terncard/pixel_format.h"

namespace lxtest {

// A captured field (or any run of lines of one field) in memory, and where
// it was taken from in the source picture.
struct CapturedField {
    const uint8_t* pixels = nullptr;
    uint32_t width = 0;
    uint32_t lines = 0;
    uint32_t stride = 0;  // bytes from one line of this field to the next
    lxhw::tern::PixelFormat format = lxhw::tern::PixelFormat::Rgb32;
    double firstSample = 0;       // source sample under pixel column 0
    double samplesPerPixel = 1;   // horizontal scale
    double firstFieldLine = 0;    // source field line under line 0
    double fieldLinesPerLine = 1; // vertical scale
};

// Luma (0..255, roughly) of one pixel in any of the card's formats.
int lumaAt(const CapturedField& field, uint32_t x, uint32_t line);

// The 24-bit field number, or nothing when the code is cut off or its check byte fails.
std::optional<uint32_t> decodeFieldNumber(const CapturedField& field);

}  // namespace lxtest
