// Records of the static-memory service. They cross the user/kernel boundary
// byte for byte, so every size and offset is fixed. Physical addresses are
// 32-bit (all reserved memory lies below 4 GB); user and kernel addresses are
// 64-bit.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "lx/portable.h"

#define LX_STATIC_MEM_PAGE_BYTES ((uint32_t)4096)
// Offset = Length = this value asks for the whole static memory.
#define LX_STATIC_MEM_WHOLE ((uint32_t)0xFFFFFFFFu)

// A locked window of the static memory.
typedef struct StaticMemBlock {
  uint32_t Offset;           // in, out: byte offset from the start of static memory
  uint32_t Length;           // in, out: window length in bytes
  uint64_t UserAddress;      // out: address in the calling process; 0 = not mapped
  uint64_t KernelAddress;    // out: system address of the window
  uint32_t PhysicalAddress;  // out: 0 = no static memory, or window outside it
  uint32_t Reserved;         // out: always 0
  uint64_t MappingHandle;    // out: given back unchanged to unlock
} StaticMemBlock;
LX_STATIC_ASSERT(sizeof(StaticMemBlock) == 40, "StaticMemBlock layout");
LX_STATIC_ASSERT(offsetof(StaticMemBlock, Offset) == 0, "StaticMemBlock layout");
LX_STATIC_ASSERT(offsetof(StaticMemBlock, Length) == 4, "StaticMemBlock layout");
LX_STATIC_ASSERT(offsetof(StaticMemBlock, UserAddress) == 8, "StaticMemBlock layout");
LX_STATIC_ASSERT(offsetof(StaticMemBlock, KernelAddress) == 16, "StaticMemBlock layout");
LX_STATIC_ASSERT(offsetof(StaticMemBlock, PhysicalAddress) == 24, "StaticMemBlock layout");
LX_STATIC_ASSERT(offsetof(StaticMemBlock, Reserved) == 28, "StaticMemBlock layout");
LX_STATIC_ASSERT(offsetof(StaticMemBlock, MappingHandle) == 32, "StaticMemBlock layout");

// A physically contiguous block allocated on demand. All 32 bytes come back
// zero when the block cannot be allocated or mapped.
typedef struct DynamicMemBlock {
  uint64_t UserAddress;      // out
  uint64_t KernelAddress;    // out: the driver frees the block by it
  uint32_t PhysicalAddress;  // out
  uint32_t Size;             // in: requested bytes; out: allocated bytes or 0
  uint64_t MappingHandle;    // out
} DynamicMemBlock;
LX_STATIC_ASSERT(sizeof(DynamicMemBlock) == 32, "DynamicMemBlock layout");
LX_STATIC_ASSERT(offsetof(DynamicMemBlock, UserAddress) == 0, "DynamicMemBlock layout");
LX_STATIC_ASSERT(offsetof(DynamicMemBlock, KernelAddress) == 8, "DynamicMemBlock layout");
LX_STATIC_ASSERT(offsetof(DynamicMemBlock, PhysicalAddress) == 16, "DynamicMemBlock layout");
LX_STATIC_ASSERT(offsetof(DynamicMemBlock, Size) == 20, "DynamicMemBlock layout");
LX_STATIC_ASSERT(offsetof(DynamicMemBlock, MappingHandle) == 24, "DynamicMemBlock layout");

// The primary display and the physical address of its frame buffer.
typedef struct DisplayInfo {
  uint32_t OriginX;             // always 0
  uint32_t OriginY;             // always 0
  uint32_t Width;               // pixels
  uint32_t Height;              // lines
  uint32_t PitchPixels;         // bytes per line / BytesPerPixel
  uint32_t BitsPerPixel;        // 15 for a 16-bit 5-5-5 surface
  uint32_t BytesPerPixel;
  uint32_t FrameBufferAddress;  // 0 when it could not be found
} DisplayInfo;
LX_STATIC_ASSERT(sizeof(DisplayInfo) == 32, "DisplayInfo layout");
LX_STATIC_ASSERT(offsetof(DisplayInfo, OriginX) == 0, "DisplayInfo layout");
LX_STATIC_ASSERT(offsetof(DisplayInfo, OriginY) == 4, "DisplayInfo layout");
LX_STATIC_ASSERT(offsetof(DisplayInfo, Width) == 8, "DisplayInfo layout");
LX_STATIC_ASSERT(offsetof(DisplayInfo, Height) == 12, "DisplayInfo layout");
LX_STATIC_ASSERT(offsetof(DisplayInfo, PitchPixels) == 16, "DisplayInfo layout");
LX_STATIC_ASSERT(offsetof(DisplayInfo, BitsPerPixel) == 20, "DisplayInfo layout");
LX_STATIC_ASSERT(offsetof(DisplayInfo, BytesPerPixel) == 24, "DisplayInfo layout");
LX_STATIC_ASSERT(offsetof(DisplayInfo, FrameBufferAddress) == 28, "DisplayInfo layout");

// The static-memory size information that the device manager keeps.
typedef struct StaticMemInfo {
  uint32_t RequiredPages;    // size asked for, in pages of 4096 bytes
  uint32_t PhysicalAddress;  // base of the reserved memory, 0 when none
  uint32_t Valid;            // 1 when the service reported success
} StaticMemInfo;
LX_STATIC_ASSERT(sizeof(StaticMemInfo) == 12, "StaticMemInfo layout");
LX_STATIC_ASSERT(offsetof(StaticMemInfo, RequiredPages) == 0, "StaticMemInfo layout");
LX_STATIC_ASSERT(offsetof(StaticMemInfo, PhysicalAddress) == 4, "StaticMemInfo layout");
LX_STATIC_ASSERT(offsetof(StaticMemInfo, Valid) == 8, "StaticMemInfo layout");

// Fill a window of static memory with one byte value.
typedef struct StaticFillRequest {
  uint32_t Offset;
  uint32_t Length;
  uint8_t Value;
  uint8_t Unused[3];  // content does not matter
} StaticFillRequest;
LX_STATIC_ASSERT(sizeof(StaticFillRequest) == 12, "StaticFillRequest layout");
LX_STATIC_ASSERT(offsetof(StaticFillRequest, Offset) == 0, "StaticFillRequest layout");
LX_STATIC_ASSERT(offsetof(StaticFillRequest, Length) == 4, "StaticFillRequest layout");
LX_STATIC_ASSERT(offsetof(StaticFillRequest, Value) == 8, "StaticFillRequest layout");
