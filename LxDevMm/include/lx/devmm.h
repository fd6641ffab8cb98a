// Device manager exports: status strings, card-type registry and function
// binding, and the static-memory facade. Every export returns an LxStatus
// except LxDevGetErrorString.
#pragma once

#include <stdint.h>

#include "lx/export.h"
#include "lx/static_mem_records.h"
#include "lx/status.h"

// An exported card-library function as the binding hands it out; callers
// cast it to the function's real type (void (*)(void) converts to any
// function pointer type without a cast warning).
typedef void (*LxDevProc)(void);

// Text of a status: a pointer into a static, read-only table of 100-byte
// entries. The sign is ignored. Codes beyond the table give the entry of
// LX_INTERNAL_ERROR.
LX_EXPORT const char* LxDevGetErrorString(int code);

// Card-type registry and binding.
LX_EXPORT LxStatus LxDevOpenDriver(int cardTypeIndex);
LX_EXPORT LxStatus LxDevCloseDriver(int cardTypeIndex);
LX_EXPORT LxStatus LxDevGetFuncAddr(int cardTypeIndex, const char* name, LxDevProc* out, uint8_t composeName,
                                    uint8_t prefixFirst);
LX_EXPORT LxStatus LxDevGetCardNumber(int cardTypeIndex, int32_t* count);
LX_EXPORT LxStatus LxDevGetTypeFromIndex(int cardIndex, int32_t* cardTypeIndex, int32_t* indexInType);

// Static-memory facade over "Hmbseapi.dll".
LX_EXPORT LxStatus LxDevAllocDynamicMem(DynamicMemBlock* block);
LX_EXPORT LxStatus LxDevFreeDynamicMem(const DynamicMemBlock* block);
LX_EXPORT LxStatus LxDevGetStaticMem(uint32_t* requiredPages, uint32_t* physicalAddress);
LX_EXPORT LxStatus LxDevSetStaticMem(uint32_t pages);
LX_EXPORT LxStatus LxDevStaticMemLock(StaticMemBlock* block);
LX_EXPORT LxStatus LxDevStaticMemUnlock(const StaticMemBlock* block);
LX_EXPORT LxStatus LxDevFillStaticMem(uint32_t offset, uint32_t length, uint32_t value);
