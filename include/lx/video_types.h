// Video enumerations shared unchanged by the programs, the public API and the
// card library, and the activity state of a card handle.
#pragma once

#include <stdint.h>

enum LxVideoFormat : int32_t {
  LX_VIDEO_FORMAT_YUV422 = 0,
  LX_VIDEO_FORMAT_RGB888 = 1,
  LX_VIDEO_FORMAT_RGB565 = 2,
  LX_VIDEO_FORMAT_RGB555 = 3,
  LX_VIDEO_FORMAT_RGB8888 = 4,
  LX_VIDEO_FORMAT_GREY8_FULL = 5,     // 8-bit grey, full range
  LX_VIDEO_FORMAT_GREY8_LIMITED = 6,  // 8-bit grey, limited range
};

inline constexpr int LX_VIDEO_FORMAT_COUNT = 7;

// Bytes per pixel of each video format, indexed by LxVideoFormat.
inline constexpr int32_t LX_VIDEO_FORMAT_BYTES_PER_PIXEL[LX_VIDEO_FORMAT_COUNT] = {2, 3, 2, 2, 4, 1, 1};

// Bytes per pixel of a format, or 0 for a value outside the enumeration.
inline constexpr int32_t LxBytesPerPixel(int32_t format) {
  return format >= 0 && format < LX_VIDEO_FORMAT_COUNT ? LX_VIDEO_FORMAT_BYTES_PER_PIXEL[format] : 0;
}

enum LxVideoStandard : int32_t {
  LX_VIDEO_STANDARD_PAL = 0,
  LX_VIDEO_STANDARD_NTSC = 1,
};

// Frame mode captures both fields; the two single-field modes are called
// "Field" and "Field1" in the demonstration program.
enum LxScanMode : int32_t {
  LX_SCAN_MODE_FRAME = 0,
  LX_SCAN_MODE_FIELD = 1,
  LX_SCAN_MODE_FIELD1 = 2,
};

// Kind of a video input; an input is a kind plus a number within the kind.
enum LxVideoSourceKind : int32_t {
  LX_VIDEO_SOURCE_COMPOSITE = 0,
  LX_VIDEO_SOURCE_SVIDEO = 1,
  LX_VIDEO_SOURCE_YCBCR = 2,
};

// The one activity running on a card; anything but Idle blocks the
// operations that say so.
enum LxCaptureState : int32_t {
  LX_CAPTURE_STATE_IDLE = 0,
  LX_CAPTURE_STATE_CAPTURE = 1,     // live capture into the display
  LX_CAPTURE_STATE_SNAP = 2,        // continuous snap into static memory
  LX_CAPTURE_STATE_CAPTURE_EX = 3,  // monitored capture driven by the snap-ex library
  LX_CAPTURE_STATE_SNAP_EX = 4,     // snap-ex snapping
};

// Overlay mask of a card: two field halves of 288 lines of 96 bytes, one bit
// per pixel, a set bit shows video.
inline constexpr uint32_t LX_MASK_LINE_BYTES = 96;
inline constexpr uint32_t LX_MASK_FIELD_LINES = 288;
inline constexpr uint32_t LX_MASK_FIELD_BYTES = LX_MASK_LINE_BYTES * LX_MASK_FIELD_LINES;
inline constexpr uint32_t LX_MASK_BYTES = 2 * LX_MASK_FIELD_BYTES;
static_assert(LX_MASK_FIELD_BYTES == 0x6c00 && LX_MASK_BYTES == 0xd800);
