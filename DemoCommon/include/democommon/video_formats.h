// Video formats, display depths and the flat numbering of the inputs, as the
// demonstration programs use them.
#pragma once

#include <cstdint>

namespace demo {

// The display image is allocated once at the largest size any format and
// window need: 768 x 576 pixels of 4 bytes.
inline constexpr uint32_t kImageBufferBytes = 768u * 576u * 4u;

// Bits per pixel of a video format: 0 YUV422 16, 1 RGB888 24, 2 RGB565 16,
// 3 RGB555 15, 4 RGB8888 32, 5 and 6 grey 8; other formats 0.
int bitsPerPixel(int videoFormat);
// The video format that matches a display depth; -1 for a depth without one.
int formatForDepth(int depth);

// Inputs numbered 0..10 across the kinds: 0..5 composite ("Video 1".."Video 6"),
// 6..8 S-Video, 9..10 YCbCr. False for a number outside 0..10.
bool sourceOfFlat(int flat, int* kind, int* number);
// The flat number of an input; -1 for an unknown kind.
int flatOfSource(int kind, int number);

// The full picture of a standard: 768 x 576 for PAL (0), 640 x 480 for NTSC.
int frameWidthOf(int standard);
int frameHeightOf(int standard);

}  // namespace demo
