// Video enumerations shared unchanged by the programs, the public API and the
// card library, and the activity state of a card handle.
#pragma once

#include <stdint.h>

#include "lx/portable.h"

LX_ENUM(LxVideoFormat){
    LX_VIDEO_FORMAT_YUV422 = 0,
    LX_VIDEO_FORMAT_RGB888 = 1,
    LX_VIDEO_FORMAT_RGB565 = 2,
    LX_VIDEO_FORMAT_RGB555 = 3,
    LX_VIDEO_FORMAT_RGB8888 = 4,
    LX_VIDEO_FORMAT_GREY8_FULL = 5,     // 8-bit grey, full range
    LX_VIDEO_FORMAT_GREY8_LIMITED = 6,  // 8-bit grey, limited range
};

#define LX_VIDEO_FORMAT_COUNT 7

// Bytes per pixel of a format (2, 3, 2, 2, 4, 1, 1), or 0 for a value
// outside the enumeration. One expression, so that it is a constant
// expression in C++.
#ifdef __cplusplus
constexpr
#else
static
#endif
    inline int32_t
    LxBytesPerPixel(int32_t format) {
  return format == LX_VIDEO_FORMAT_YUV422 || format == LX_VIDEO_FORMAT_RGB565 || format == LX_VIDEO_FORMAT_RGB555 ? 2
         : format == LX_VIDEO_FORMAT_RGB888                                                                       ? 3
         : format == LX_VIDEO_FORMAT_RGB8888                                                                      ? 4
         : format == LX_VIDEO_FORMAT_GREY8_FULL || format == LX_VIDEO_FORMAT_GREY8_LIMITED                        ? 1
                                                                                                                  : 0;
}

LX_ENUM(LxVideoStandard){
    LX_VIDEO_STANDARD_PAL = 0,
    LX_VIDEO_STANDARD_NTSC = 1,
};

// Frame mode captures both fields; the two single-field modes are called
// "Field" and "Field1" in the demonstration program.
LX_ENUM(LxScanMode){
    LX_SCAN_MODE_FRAME = 0,
    LX_SCAN_MODE_FIELD = 1,
    LX_SCAN_MODE_FIELD1 = 2,
};

// Kind of a video input; an input is a kind plus a number within the kind.
LX_ENUM(LxVideoSourceKind){
    LX_VIDEO_SOURCE_COMPOSITE = 0,
    LX_VIDEO_SOURCE_SVIDEO = 1,
    LX_VIDEO_SOURCE_YCBCR = 2,
};

// The one activity running on a card; anything but Idle blocks the
// operations that say so.
LX_ENUM(LxCaptureState){
    LX_CAPTURE_STATE_IDLE = 0,
    LX_CAPTURE_STATE_CAPTURE = 1,     // live capture into the display
    LX_CAPTURE_STATE_SNAP = 2,        // continuous snap into static memory
    LX_CAPTURE_STATE_CAPTURE_EX = 3,  // monitored capture driven by the snap-ex library
    LX_CAPTURE_STATE_SNAP_EX = 4,     // snap-ex snapping
};

// Overlay mask of a card: two field halves of 288 lines of 96 bytes, one bit
// per pixel, a set bit shows video.
#define LX_MASK_LINE_BYTES ((uint32_t)96)
#define LX_MASK_FIELD_LINES ((uint32_t)288)
#define LX_MASK_FIELD_BYTES (LX_MASK_LINE_BYTES * LX_MASK_FIELD_LINES)
#define LX_MASK_BYTES (2 * LX_MASK_FIELD_BYTES)
LX_STATIC_ASSERT(LX_MASK_FIELD_BYTES == 0x6c00 && LX_MASK_BYTES == 0xd800, "mask halves of 0x6c00 bytes");
