// Static-memory service ("Hmbseapi.dll"): windows of the static memory,
// dynamic contiguous blocks, the size setting, the display description and
// the line transform. Every export returns nonzero for success, 0 for failure.
#pragma once

#include <stdint.h>

#include "lx/export.h"
#include "lx/hmb_control_codes.h"
#include "lx/static_mem_records.h"

// Maps the window block->Offset / block->Length; nonzero when mapped
// (UserAddress nonzero). The driver rewrites all 40 bytes.
LX_EXPORT int32_t HmbStaticMemLock(StaticMemBlock* block);
// Unmaps what a lock of this process returned; a block with UserAddress or
// MappingHandle 0 succeeds and does nothing.
LX_EXPORT int32_t HmbStaticMemUnlock(const StaticMemBlock* block);
// Requested size (pages) and physical base of the reserved block; nonzero
// when the last driver start did what the registry asks.
LX_EXPORT int32_t HmbGetStaticMem(uint32_t* requiredPages, uint32_t* physicalAddress);
// Records a new size for the next driver start.
LX_EXPORT int32_t HmbSetStaticMem(uint32_t pages);
// Allocates and maps block->Size bytes; a success may still bring back an
// all-zero block (no memory): test UserAddress.
LX_EXPORT int32_t HmbDynamicMemAlloc(DynamicMemBlock* block);
LX_EXPORT int32_t HmbDynamicMemFree(const DynamicMemBlock* block);
LX_EXPORT int32_t HmbGetDisplayInfo(DisplayInfo* info);
LX_EXPORT int32_t HmbTransformMem(void* dst, const void* src, int32_t width, int32_t lines, int32_t bytesPerPixel,
                                  int32_t rgb16Layout, int32_t flipVertical);
LX_EXPORT int32_t HmbFillStaticMem(uint32_t offset, uint32_t length, uint8_t value);
