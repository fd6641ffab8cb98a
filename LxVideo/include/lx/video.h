// Public video API: the Lx functions that applications call. Including this
// header brings every declaration of the API: card handles and parameters
// (video_card.h), capture and snap (video_capture.h), the enumerations
// (video_types.h, card_type.h), the records the API fills (board_info.h) and
// the static-memory constants (static_mem_records.h).
#pragma once

#include <stdint.h>

#include "lx/export.h"
#include "lx/static_mem_records.h"
#include "lx/status.h"
#include "lx/video_capture.h"
#include "lx/video_card.h"

// Text of a status (its constant's name); never fails, never to be freed.
LX_EXPORT const char* LxGetErrorString(int code);

// ---- static memory (no card handle) -------------------------------------------
// A static-memory lock handle: a movable global memory block (HGLOBAL) that
// holds what the unlock needs (MappingHandle, then UserAddress).
typedef void* LxStaticMemLockHandle;

// Reserved size in 4096-byte pages; LX_ALLOCATE_DEVICE_MEMORY_ERROR while the
// service cannot confirm the reservation (for instance after a new size was
// set and before the system restarted).
LX_EXPORT LxStatus LxGetStaticMem(uint32_t* pages);
// Records a new size for the next start of the system.
LX_EXPORT LxStatus LxSetStaticMem(uint32_t pages);
LX_EXPORT LxStatus LxFillStaticMem(uint32_t offset, uint32_t length, uint8_t value);
// Maps a window (offset = length = 0xFFFFFFFF: all of it); *address is the
// window in this process, valid until LxStaticMemUnlock(*lock).
LX_EXPORT LxStatus LxStaticMemLock(uint32_t offset, uint32_t length, LxStaticMemLockHandle* lock, void** address);
LX_EXPORT LxStatus LxStaticMemUnlock(LxStaticMemLockHandle lock);
