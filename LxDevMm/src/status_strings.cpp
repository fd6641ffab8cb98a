// The status string table: one fixed, zero-padded 100-byte entry per code,
// indexed by the magnitude of the code.
#include "lx/devmm.h"

namespace {

constexpr int kStatusTextBytes = 100;

const char kStatusTexts[LX_STATUS_COUNT][kStatusTextBytes] = {
    "LX_OK",
    "LX_ALLOCATE_DEVICE_MEMORY_ERROR",
    "LX_LOCK_DEVICE_MEMORY_ERROR",
    "LX_ACCESS_DEVICE_MEMORY_DENIED",
    "LX_PARAMETER_INVALID",
    "LX_NOT_SUPPORT_INTERFACE",
    "LX_OPEN_DRIVER_FAILED",
    "LX_CARD_HANDLE_INVALID",
    "LX_NO_CARD_FOUND",
    "LX_HW_MAP_MEMORY_ERROR",
    "LX_NOT_ENOUGH_SYSTEM_MEMORY",
    "LX_HW_INIT_ERROR",
    "LX_PARAMETER_OUT_OF_BOUND",
    "LX_HW_INIT_I2C_ERROR",
    "LX_HW_INIT_AD_ERROR",
    "LX_HW_BOARD_TYPE_ERROR",
    "LX_SNAP_SHOT_TIME_OUT",
    "LX_INIT_DDRAW_ERROR",
    "LX_IN_WORK",
    "LX_NOT_START_CAPTURE",
    "LX_NOT_START_CAPTURE_EX",
    "LX_NOT_START_SNAP",
    "LX_NOT_START_SNAP_EX",
    "LX_NOT_OPEN_SNAP_EX",
    "LX_VIDEO_FORMAT_INVALID",
    "LX_NOT_SUPPORT_CARD_TYPE",
    "LX_FILE_CREATE_ERROR",
    "LX_FILE_INVALID",
    "LX_VGA_BASE_INVALID",
    "LX_VIDEO_WINDOW_INVALID",
    "LX_INTERNAL_ERROR",
};

}  // namespace

LX_EXPORT const char* LxDevGetErrorString(int code) {
  // A code the table has no entry for is not a status any layer returns; it
  // reads as an internal error. The range test comes before any negation so
  // that INT_MIN never overflows.
  if (code < LX_LOWEST_STATUS || code > -LX_LOWEST_STATUS) {
    return kStatusTexts[-LX_INTERNAL_ERROR];
  }
  return kStatusTexts[code < 0 ? -code : code];
}
