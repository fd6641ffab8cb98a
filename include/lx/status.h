// LxStatus: the result of every user-mode export of the device manager, the
// public video API and the snap-ex library. 0 is success, errors are -1..-30.
// The text of each code is its own name, served by LxDevGetErrorString.
#pragma once

#include <stdint.h>

typedef int32_t LxStatus;

inline constexpr LxStatus LX_OK = 0;
inline constexpr LxStatus LX_ALLOCATE_DEVICE_MEMORY_ERROR = -1;
inline constexpr LxStatus LX_LOCK_DEVICE_MEMORY_ERROR = -2;
inline constexpr LxStatus LX_ACCESS_DEVICE_MEMORY_DENIED = -3;
inline constexpr LxStatus LX_PARAMETER_INVALID = -4;
inline constexpr LxStatus LX_NOT_SUPPORT_INTERFACE = -5;
inline constexpr LxStatus LX_OPEN_DRIVER_FAILED = -6;
inline constexpr LxStatus LX_CARD_HANDLE_INVALID = -7;
inline constexpr LxStatus LX_NO_CARD_FOUND = -8;
inline constexpr LxStatus LX_HW_MAP_MEMORY_ERROR = -9;
inline constexpr LxStatus LX_NOT_ENOUGH_SYSTEM_MEMORY = -10;
inline constexpr LxStatus LX_HW_INIT_ERROR = -11;
inline constexpr LxStatus LX_PARAMETER_OUT_OF_BOUND = -12;
inline constexpr LxStatus LX_HW_INIT_I2C_ERROR = -13;
inline constexpr LxStatus LX_HW_INIT_AD_ERROR = -14;
inline constexpr LxStatus LX_HW_BOARD_TYPE_ERROR = -15;
inline constexpr LxStatus LX_SNAP_SHOT_TIME_OUT = -16;
inline constexpr LxStatus LX_INIT_DDRAW_ERROR = -17;
inline constexpr LxStatus LX_IN_WORK = -18;
inline constexpr LxStatus LX_NOT_START_CAPTURE = -19;
inline constexpr LxStatus LX_NOT_START_CAPTURE_EX = -20;
inline constexpr LxStatus LX_NOT_START_SNAP = -21;
inline constexpr LxStatus LX_NOT_START_SNAP_EX = -22;
inline constexpr LxStatus LX_NOT_OPEN_SNAP_EX = -23;
inline constexpr LxStatus LX_VIDEO_FORMAT_INVALID = -24;
inline constexpr LxStatus LX_NOT_SUPPORT_CARD_TYPE = -25;
inline constexpr LxStatus LX_FILE_CREATE_ERROR = -26;
inline constexpr LxStatus LX_FILE_INVALID = -27;
inline constexpr LxStatus LX_VGA_BASE_INVALID = -28;
inline constexpr LxStatus LX_VIDEO_WINDOW_INVALID = -29;
inline constexpr LxStatus LX_INTERNAL_ERROR = -30;

// Codes run from 0 down to LX_LOWEST_STATUS without gaps.
inline constexpr LxStatus LX_LOWEST_STATUS = LX_INTERNAL_ERROR;
inline constexpr int LX_STATUS_COUNT = 31;
