// LxStatus: the result of every user-mode export of the device manager, the
// public video API and the snap-ex library. 0 is success, errors are -1..-30.
// The text of each code is its own name, served by LxDevGetErrorString.
#pragma once

#include <stdint.h>

typedef int32_t LxStatus;

#define LX_OK ((LxStatus)0)
#define LX_ALLOCATE_DEVICE_MEMORY_ERROR ((LxStatus)-1)
#define LX_LOCK_DEVICE_MEMORY_ERROR ((LxStatus)-2)
#define LX_ACCESS_DEVICE_MEMORY_DENIED ((LxStatus)-3)
#define LX_PARAMETER_INVALID ((LxStatus)-4)
#define LX_NOT_SUPPORT_INTERFACE ((LxStatus)-5)
#define LX_OPEN_DRIVER_FAILED ((LxStatus)-6)
#define LX_CARD_HANDLE_INVALID ((LxStatus)-7)
#define LX_NO_CARD_FOUND ((LxStatus)-8)
#define LX_HW_MAP_MEMORY_ERROR ((LxStatus)-9)
#define LX_NOT_ENOUGH_SYSTEM_MEMORY ((LxStatus)-10)
#define LX_HW_INIT_ERROR ((LxStatus)-11)
#define LX_PARAMETER_OUT_OF_BOUND ((LxStatus)-12)
#define LX_HW_INIT_I2C_ERROR ((LxStatus)-13)
#define LX_HW_INIT_AD_ERROR ((LxStatus)-14)
#define LX_HW_BOARD_TYPE_ERROR ((LxStatus)-15)
#define LX_SNAP_SHOT_TIME_OUT ((LxStatus)-16)
#define LX_INIT_DDRAW_ERROR ((LxStatus)-17)
#define LX_IN_WORK ((LxStatus)-18)
#define LX_NOT_START_CAPTURE ((LxStatus)-19)
#define LX_NOT_START_CAPTURE_EX ((LxStatus)-20)
#define LX_NOT_START_SNAP ((LxStatus)-21)
#define LX_NOT_START_SNAP_EX ((LxStatus)-22)
#define LX_NOT_OPEN_SNAP_EX ((LxStatus)-23)
#define LX_VIDEO_FORMAT_INVALID ((LxStatus)-24)
#define LX_NOT_SUPPORT_CARD_TYPE ((LxStatus)-25)
#define LX_FILE_CREATE_ERROR ((LxStatus)-26)
#define LX_FILE_INVALID ((LxStatus)-27)
#define LX_VGA_BASE_INVALID ((LxStatus)-28)
#define LX_VIDEO_WINDOW_INVALID ((LxStatus)-29)
#define LX_INTERNAL_ERROR ((LxStatus)-30)

// Codes run from 0 down to LX_LOWEST_STATUS without gaps.
#define LX_LOWEST_STATUS LX_INTERNAL_ERROR
#define LX_STATUS_COUNT 31
