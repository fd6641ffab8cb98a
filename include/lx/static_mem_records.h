// Records of the static-memory service. They cross the user/kernel boundary
// byte for byte, so every size and offset is fixed. Physical addresses are
// 32-bit (all reserved memory lies below 4 GB); user and kernel addresses are
// 64-bit.
#pragma once

#include <stddef.h>
#include <stdint.h>

inline constexpr uint32_t LX_STATIC_MEM_PAGE_BYTES = 4096;
// Offset = Length = this value asks for the whole static memory.
inline constexpr uint32_t LX_STATIC_MEM_WHOLE = 0xFFFFFFFFu;

// A locked window of the static memory.
struct StaticMemBlock {
  uint32_t Offset;           // in, out: byte offset from the start of static memory
  uint32_t Length;           // in, out: window length in bytes
  uint64_t UserAddress;      // out: address in the calling process; 0 = not mapped
  uint64_t KernelAddress;    // out: system address of the window
  uint32_t PhysicalAddress;  // out: 0 = no static memory, or window outside it
  uint32_t Reserved;         // out: always 0
  uint64_t MappingHandle;    // out: given back unchanged to unlock
};
static_assert(sizeof(StaticMemBlock) == 40);
static_assert(offsetof(StaticMemBlock, Offset) == 0);
static_assert(offsetof(StaticMemBlock, Length) == 4);
static_assert(offsetof(StaticMemBlock, UserAddress) == 8);
static_assert(offsetof(StaticMemBlock, KernelAddress) == 16);
static_assert(offsetof(StaticMemBlock, PhysicalAddress) == 24);
static_assert(offsetof(StaticMemBlock, Reserved) == 28);
static_assert(offsetof(StaticMemBlock, MappingHandle) == 32);

// A physically contiguous block allocated on demand. All 32 bytes come back
// zero when the block cannot be allocated or mapped.
struct DynamicMemBlock {
  uint64_t UserAddress;      // out
  uint64_t KernelAddress;    // out: the driver frees the block by it
  uint32_t PhysicalAddress;  // out
  uint32_t Size;             // in: requested bytes; out: allocated bytes or 0
  uint64_t MappingHandle;    // out
};
static_assert(sizeof(DynamicMemBlock) == 32);
static_assert(offsetof(DynamicMemBlock, UserAddress) == 0);
static_assert(offsetof(DynamicMemBlock, KernelAddress) == 8);
static_assert(offsetof(DynamicMemBlock, PhysicalAddress) == 16);
static_assert(offsetof(DynamicMemBlock, Size) == 20);
static_assert(offsetof(DynamicMemBlock, MappingHandle) == 24);

// The primary display and the physical address of its frame buffer.
struct DisplayInfo {
  uint32_t OriginX;             // always 0
  uint32_t OriginY;             // always 0
  uint32_t Width;               // pixels
  uint32_t Height;              // lines
  uint32_t PitchPixels;         // bytes per line / BytesPerPixel
  uint32_t BitsPerPixel;        // 15 for a 16-bit 5-5-5 surface
  uint32_t BytesPerPixel;
  uint32_t FrameBufferAddress;  // 0 when it could not be found
};
static_assert(sizeof(DisplayInfo) == 32);
static_assert(offsetof(DisplayInfo, OriginX) == 0);
static_assert(offsetof(DisplayInfo, OriginY) == 4);
static_assert(offsetof(DisplayInfo, Width) == 8);
static_assert(offsetof(DisplayInfo, Height) == 12);
static_assert(offsetof(DisplayInfo, PitchPixels) == 16);
static_assert(offsetof(DisplayInfo, BitsPerPixel) == 20);
static_assert(offsetof(DisplayInfo, BytesPerPixel) == 24);
static_assert(offsetof(DisplayInfo, FrameBufferAddress) == 28);

// The static-memory size information that the device manager keeps.
struct StaticMemInfo {
  uint32_t RequiredPages;    // size asked for, in pages of 4096 bytes
  uint32_t PhysicalAddress;  // base of the reserved memory, 0 when none
  uint32_t Valid;            // 1 when the service reported success
};
static_assert(sizeof(StaticMemInfo) == 12);
static_assert(offsetof(StaticMemInfo, RequiredPages) == 0);
static_assert(offsetof(StaticMemInfo, PhysicalAddress) == 4);
static_assert(offsetof(StaticMemInfo, Valid) == 8);

// Fill a window of static memory with one byte value.
struct StaticFillRequest {
  uint32_t Offset;
  uint32_t Length;
  uint8_t Value;
  uint8_t Unused[3];  // content does not matter
};
static_assert(sizeof(StaticFillRequest) == 12);
static_assert(offsetof(StaticFillRequest, Offset) == 0);
static_assert(offsetof(StaticFillRequest, Length) == 4);
static_assert(offsetof(StaticFillRequest, Value) == 8);
